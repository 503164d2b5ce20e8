#pragma once

#include <string_view>

namespace kavrel::ConfigText {

// A line of a key=value file (os-release, desktop entries) without its surrounding blanks.
inline std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace kavrel::ConfigText
