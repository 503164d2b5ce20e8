#pragma once

#include <stdexcept>
#include <string_view>

namespace kavrel {

enum class IPCError { invalidFrame, oversizedFrame, helperUnavailable, commandTimeout };

std::string_view toString(IPCError error);

class IPCException : public std::runtime_error {
public:
    explicit IPCException(IPCError error);
    IPCError error() const noexcept { return code; }

private:
    IPCError code;
};

} // namespace kavrel
