#include "quit_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace lumenfield {

namespace {

// Made once per process and kept: a handler may still run while an object goes away.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // Nothing to do when the pipe is full: a quit is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool openPipe()
{
    if (signalPipe[0] >= 0) return true;
    return ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT}) ::sigaction(sig, &action, nullptr);
}

} // namespace

QuitOnSignals::QuitOnSignals(QObject* parent) : QObject(parent)
{
    if (!openPipe()) return;
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {}
        QCoreApplication::quit();
    });
    setHandler(onSignal);
}

QuitOnSignals::~QuitOnSignals()
{
    if (notifier_) setHandler(SIG_DFL);
}

} // namespace lumenfield
