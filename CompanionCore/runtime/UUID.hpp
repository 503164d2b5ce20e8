#pragma once

#include <string>

namespace kavrel {

// A fresh random UUID in its canonical 36-character upper-case text form.
std::string makeUUIDString();

} // namespace kavrel
