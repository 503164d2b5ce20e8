#include "CompanionCore/model/UnicodeWhitespace.hpp"

#include <cstddef>
#include <optional>

namespace kavrel {

namespace {

bool isWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The length of a whitespace code point encoded at `text[at]`, or none when there is none there.
std::optional<std::size_t> whitespaceAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[at + i]);
    };
    const std::size_t left = text.size() - at;
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t point = 0;
    if (lead < 0x80) {
        length = 1;
        point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        point = lead & 0x0F;
    } else {
        return std::nullopt; // no four-byte code point is white space
    }
    if (length > left) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        point = (point << 6) | (byte(i) & 0x3F);
    }
    return isWhitespace(point) ? std::optional(length) : std::nullopt;
}

// Where the code point that ends just before `end` begins.
std::size_t codePointStart(std::string_view text, std::size_t end) {
    std::size_t start = end - 1;
    while (start > 0 && end - start < 3 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    return start;
}

} // namespace

std::string_view UnicodeWhitespace::trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto length = whitespaceAt(text, begin);
        if (!length) {
            break;
        }
        begin += *length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t start = codePointStart(text, end);
        const auto length = whitespaceAt(text, start);
        if (start < begin || !length || start + *length != end) {
            break;
        }
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace kavrel
