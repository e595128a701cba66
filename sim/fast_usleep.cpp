// Linked into test and benchmark programs that are themselves the libusb client: umockdev's
// preload sleeps usleep(0) after every emulated ioctl, which costs a timer-slack period each time.
// Exported from the executable, this definition takes the preload's calls and yields instead.
#include <ctime>
#include <sched.h>
#include <unistd.h>

extern "C" int usleep(useconds_t usec)
{
    if (usec == 0) {
        sched_yield();
        return 0;
    }
    timespec ts{static_cast<time_t>(usec / 1000000), static_cast<long>(usec % 1000000) * 1000};
    return nanosleep(&ts, nullptr);
}
