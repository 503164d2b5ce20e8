#include "CompanionCore/runtime/UUID.hpp"

#include <uuid/uuid.h>

namespace kavrel {

std::string makeUUIDString() {
    uuid_t value;
    uuid_generate_random(value);
    char text[37];
    uuid_unparse_upper(value, text);
    return std::string(text, 36);
}

} // namespace kavrel
