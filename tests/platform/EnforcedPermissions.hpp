#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kavrel {

// While alive, the calling thread's file accesses obey permission bits even when it runs as root:
// CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER leave its effective set and come back at the
// end. Capabilities belong to a thread, so the rest of the process is unaffected. Without those
// capabilities (an ordinary user) it changes nothing.
class EnforcedPermissions {
public:
    EnforcedPermissions() {
        ::syscall(SYS_capget, &header, saved);
        __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
        lowered[0].effective &=
            ~(CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH) | CAP_TO_MASK(CAP_FOWNER));
        ::syscall(SYS_capset, &header, lowered);
    }
    // Raising capabilities that are still in the permitted set cannot fail.
    ~EnforcedPermissions() { ::syscall(SYS_capset, &header, saved); }
    EnforcedPermissions(const EnforcedPermissions&) = delete;
    EnforcedPermissions& operator=(const EnforcedPermissions&) = delete;

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
};

} // namespace kavrel
