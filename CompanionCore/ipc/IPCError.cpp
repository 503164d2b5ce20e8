#include "CompanionCore/ipc/IPCError.hpp"

#include <string>

namespace kavrel {

std::string_view toString(IPCError error) {
    switch (error) {
    case IPCError::invalidFrame:
        return "invalidFrame";
    case IPCError::oversizedFrame:
        return "oversizedFrame";
    case IPCError::helperUnavailable:
        return "helperUnavailable";
    case IPCError::commandTimeout:
        return "commandTimeout";
    }
    return "unknown";
}

IPCException::IPCException(IPCError error) : std::runtime_error(std::string(toString(error))), code(error) {}

} // namespace kavrel
