// Test programs often run as root, whose capabilities pass every permission check, so that a folder
// made read-only still takes new files. Giving up the capabilities that override file permissions
// (for this thread and every thread it starts later) makes read-only mean read-only again. Call it
// first in main(), before any thread exists.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

inline bool dropFilePermissionOverride()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        data[capability / 32].effective &= ~(1u << (capability % 32));
    return syscall(SYS_capset, &header, data) == 0;
}
