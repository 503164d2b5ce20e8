#include "platform/EnforcedPermissions.hpp"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

namespace kavrel {

namespace {

struct Capabilities {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
};

Capabilities current() {
    Capabilities capabilities;
    if (::syscall(SYS_capget, &capabilities.header, capabilities.data) != 0) {
        throw std::runtime_error("capget failed");
    }
    return capabilities;
}

void apply(Capabilities& capabilities) {
    if (::syscall(SYS_capset, &capabilities.header, capabilities.data) != 0) {
        throw std::runtime_error("capset failed");
    }
}

constexpr unsigned fileOverrides =
    CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH) | CAP_TO_MASK(CAP_FOWNER);

} // namespace

EnforcedPermissions::EnforcedPermissions() {
    Capabilities capabilities = current();
    savedEffective[0] = capabilities.data[0].effective;
    savedEffective[1] = capabilities.data[1].effective;
    if ((capabilities.data[0].effective & fileOverrides) == 0) {
        return;
    }
    capabilities.data[0].effective &= ~fileOverrides;
    apply(capabilities);
    changed = true;
}

EnforcedPermissions::~EnforcedPermissions() {
    if (!changed) {
        return;
    }
    Capabilities capabilities = current();
    capabilities.data[0].effective = savedEffective[0];
    capabilities.data[1].effective = savedEffective[1];
    try {
        apply(capabilities);
    } catch (const std::exception&) {
        // Raising capabilities still in the permitted set cannot fail; nothing sensible to do if it did.
    }
}

} // namespace kavrel
