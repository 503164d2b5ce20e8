#include "CompanionCore/ipc/JSONWriter.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace kavrel::JSONWriter {
namespace {

// Bytes that cannot be copied as they are: controls, the quote, the backslash and every non-ASCII byte
// (those are checked as UTF-8 before they are copied).
constexpr std::array<bool, 256> needsAttention = [] {
    std::array<bool, 256> table{};
    for (std::size_t byte = 0; byte < table.size(); ++byte) {
        table[byte] = byte < 0x20 || byte == '"' || byte == '\\' || byte >= 0x80;
    }
    return table;
}();

// Length of the well-formed UTF-8 sequence starting at `at`, or 0: no overlong forms, no surrogates,
// nothing above U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t index) {
        return static_cast<unsigned char>(text[index]);
    };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(at + 1) < secondLow || byte(at + 1) > secondHigh) {
        return 0;
    }
    for (std::size_t index = at + 2; index < at + length; ++index) {
        if (byte(index) < 0x80 || byte(index) > 0xBF) {
            return 0;
        }
    }
    return length;
}

void writeEscape(std::string& out, unsigned char byte) {
    switch (byte) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        static constexpr char hex[] = "0123456789abcdef";
        out += "\\u00";
        out += hex[byte >> 4];
        out += hex[byte & 0xF];
    }
}

void checkLevel(std::size_t level) {
    if (level > JSONValue::maxDepth) {
        throw JSONError("JSON nested deeper than " + std::to_string(JSONValue::maxDepth) +
                        " levels cannot be written");
    }
}

void writeArray(std::string& out, const JSONArray& elements, std::size_t level) {
    checkLevel(level);
    out += '[';
    bool first = true;
    for (const JSONValue& element : elements) {
        if (!first) {
            out += ',';
        }
        first = false;
        writeValue(out, element, level + 1);
    }
    out += ']';
}

} // namespace

void writeString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t index = 0;
    while (index < text.size()) {
        const std::size_t runStart = index;
        while (index < text.size() && !needsAttention[static_cast<unsigned char>(text[index])]) {
            ++index;
        }
        out.append(text, runStart, index - runStart);
        if (index == text.size()) {
            break;
        }
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte < 0x80) {
            writeEscape(out, byte);
            ++index;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text, index);
        if (length == 0) {
            throw JSONError("a string that is not valid UTF-8 cannot be written as JSON");
        }
        out.append(text, index, length);
        index += length;
    }
    out += '"';
}

void writeNumber(std::string& out, double number) {
    if (!std::isfinite(number)) {
        throw JSONError("a number that is not finite cannot be written as JSON");
    }
    std::array<char, 32> text{};
    auto written = std::to_chars(text.data(), text.data() + text.size(), number);
    const bool integerForm =
        std::none_of(text.data(), written.ptr, [](char c) { return c == '.' || c == 'e'; });
    // An integer form would read back as an integer: "-0" as 0, and digits past 64 bits not at all.
    if (integerForm && number == 0 && std::signbit(number)) {
        out += "-0.0";
        return;
    }
    if (integerForm && std::fabs(number) >= 0x1p63) {
        written =
            std::to_chars(text.data(), text.data() + text.size(), number, std::chars_format::scientific);
    }
    out.append(text.data(), written.ptr);
}

void writeObject(std::string& out, const JSONObject& members, std::size_t level) {
    checkLevel(level);
    out += '{';
    bool first = true;
    for (const auto& [key, member] : members) {
        if (!first) {
            out += ',';
        }
        first = false;
        writeString(out, key);
        out += ':';
        writeValue(out, member, level + 1);
    }
    out += '}';
}

void writeValue(std::string& out, const JSONValue& value, std::size_t level) {
    switch (value.kind()) {
    case JSONValue::Kind::string:
        writeString(out, *value.string());
        return;
    case JSONValue::Kind::number:
        writeNumber(out, *value.number());
        return;
    case JSONValue::Kind::boolean:
        out += *value.boolean() ? "true" : "false";
        return;
    case JSONValue::Kind::object:
        writeObject(out, *value.object(), level);
        return;
    case JSONValue::Kind::array:
        writeArray(out, *value.array(), level);
        return;
    case JSONValue::Kind::null:
        out += "null";
        return;
    }
}

} // namespace kavrel::JSONWriter
