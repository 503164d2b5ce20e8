#include "CompanionCore/music/NativeError.hpp"

#include <string>

namespace kavrel {

std::string_view toString(NativeError error) {
    switch (error) {
    case NativeError::invalidCommand:
        return "invalidCommand";
    }
    return "unknown";
}

NativeException::NativeException(NativeError error)
    : std::runtime_error(std::string(toString(error))), code(error) {}

} // namespace kavrel
