#pragma once

namespace kavrel {

// While alive, the calling thread's file accesses obey permission bits even when it runs as root:
// CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER leave its effective set and come back at the
// end. Capabilities belong to a thread, so the rest of the process is unaffected. Without those
// capabilities (an ordinary user) it changes nothing.
class EnforcedPermissions {
public:
    EnforcedPermissions();
    ~EnforcedPermissions();
    EnforcedPermissions(const EnforcedPermissions&) = delete;
    EnforcedPermissions& operator=(const EnforcedPermissions&) = delete;

private:
    unsigned savedEffective[2] = {0, 0};
    bool changed = false;
};

} // namespace kavrel
