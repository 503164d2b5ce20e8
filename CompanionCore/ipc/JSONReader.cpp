#include "CompanionCore/ipc/JSONReader.hpp"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#include <optional>
#include <string>

namespace kavrel::JSONReader {
namespace {

static_assert(padding >= simdjson::SIMDJSON_PADDING);

using simdjson::dom::element;
using simdjson::dom::element_type;

struct DepthLimitedParser {
    DepthLimitedParser() {
        if (const auto error = parser.allocate(4096, JSONValue::maxDepth)) {
            throw JSONError(std::string("JSON reader could not start: ") + simdjson::error_message(error));
        }
    }
    simdjson::dom::parser parser;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of number characters at the start of `text` (a sign, digits, a fraction, an exponent), and
// whether it is one JSON number. A run that is not is skipped whole, so that scanning stays linear.
struct NumberRun {
    std::size_t length = 0;
    bool valid = false;
};

NumberRun numberRun(std::string_view text) {
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t start = at;
        while (at < text.size() && isDigit(text[at])) {
            ++at;
        }
        return at - start;
    };
    if (at < text.size() && text[at] == '-') {
        ++at;
    }
    const std::size_t integerStart = at;
    const std::size_t integerDigits = digits();
    bool valid = integerDigits > 0 && !(integerDigits > 1 && text[integerStart] == '0');
    if (at < text.size() && text[at] == '.') {
        ++at;
        valid = digits() > 0 && valid;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
            ++at;
        }
        valid = digits() > 0 && valid;
    }
    return {at, valid};
}

// strtod in the "C" locale: the application's locale may use another decimal separator.
double nearestDouble(const std::string& number) {
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    if (cLocale == locale_t{}) {
        throw JSONError("JSON reader could not read a number: no C locale");
    }
    return ::strtod_l(number.c_str(), nullptr, cLocale);
}

// simdjson refuses valid JSON numbers that it cannot hold exactly: integers beyond 64 bits and some
// long mantissas with large exponents. Numbers are doubles here, so every number is rewritten as the
// nearest double, in exponent form (which keeps -0.0 and is read back exactly); only a number beyond
// the double range stays refused. Strings are copied as they are, and text that is not a JSON number
// is left for the parser to refuse.
std::string withNearestDoubles(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    std::size_t at = 0;
    while (at < json.size()) {
        const char c = json[at];
        if (c == '"') {
            const std::size_t start = at++;
            while (at < json.size() && json[at] != '"') {
                at += json[at] == '\\' ? 2 : 1;
            }
            at = std::min(at + 1, json.size());
            out.append(json, start, at - start);
            continue;
        }
        if (c != '-' && !isDigit(c)) {
            out += c;
            ++at;
            continue;
        }
        const auto [length, valid] = numberRun(json.substr(at));
        if (!valid) {
            // Not a number: kept as written, for the parser to refuse.
            out.append(json, at, length);
            at += length;
            continue;
        }
        const double number = nearestDouble(std::string(json.substr(at, length)));
        if (!std::isfinite(number)) {
            throw JSONError("invalid JSON: a number beyond the range of a double");
        }
        std::array<char, 32> text{};
        const auto written =
            std::to_chars(text.data(), text.data() + text.size(), number, std::chars_format::scientific);
        out.append(text.data(), written.ptr);
        at += length;
    }
    return out;
}

// The element stays valid until the next parse on this thread.
element parseDocument(const char* data, std::size_t length, bool inPlace) {
    thread_local DepthLimitedParser reader;
    auto result = reader.parser.parse(data, length, !inPlace);
    if (result.error() == simdjson::NUMBER_ERROR) {
        const std::string rewritten = withNearestDoubles(std::string_view(data, length));
        result = reader.parser.parse(rewritten.data(), rewritten.size(), true);
    }
    if (result.error()) {
        throw JSONError(std::string("invalid JSON: ") + simdjson::error_message(result.error()));
    }
    return result.value_unsafe();
}

// The key is not quoted: it comes from the peer's line, which may carry a secret.
[[noreturn]] void throwDuplicateKey() {
    throw JSONError("JSON object repeats a key");
}

JSONValue toValue(element value);

JSONObject toObject(simdjson::dom::object object) {
    JSONObject members;
    for (const auto [key, member] : object) {
        // Writers often emit keys in order: appending at the end then costs one comparison.
        if (members.empty() || members.rbegin()->first < key) {
            members.emplace_hint(members.end(), key, toValue(member));
        } else if (!members.try_emplace(std::string(key), toValue(member)).second) {
            throwDuplicateKey();
        }
    }
    return members;
}

// Recursion is bounded by the parser's depth limit.
JSONValue toValue(element value) {
    switch (value.type()) {
    case element_type::NULL_VALUE:
        return nullptr;
    case element_type::BOOL:
        return value.get_bool().value_unsafe();
    case element_type::STRING:
        return value.get_string().value_unsafe();
    case element_type::INT64:
        return static_cast<double>(value.get_int64().value_unsafe());
    case element_type::UINT64:
        return static_cast<double>(value.get_uint64().value_unsafe());
    case element_type::DOUBLE:
        return value.get_double().value_unsafe();
    case element_type::OBJECT:
        return toObject(value.get_object().value_unsafe());
    case element_type::ARRAY: {
        const simdjson::dom::array elements = value.get_array().value_unsafe();
        JSONArray array;
        array.reserve(elements.size());
        for (const element item : elements) {
            array.push_back(toValue(item));
        }
        return array;
    }
    }
    throw JSONError("JSON value of an unknown kind");
}

[[noreturn]] void throwEnvelopeKey(std::string_view key, std::string_view problem) {
    throw JSONError("envelope key \"" + std::string(key) + "\" " + std::string(problem));
}

std::int64_t toVersion(element value) {
    switch (value.type()) {
    case element_type::INT64:
        return value.get_int64().value_unsafe();
    case element_type::UINT64:
        throwEnvelopeKey("v", "is out of the 64-bit integer range");
    case element_type::DOUBLE: {
        const double number = value.get_double().value_unsafe();
        if (std::trunc(number) != number) {
            break;
        }
        if (number < -0x1p63 || number >= 0x1p63) {
            throwEnvelopeKey("v", "is out of the 64-bit integer range");
        }
        return static_cast<std::int64_t>(number);
    }
    default:
        break;
    }
    throwEnvelopeKey("v", "must be an integer");
}

std::string toText(element value, std::string_view key) {
    std::string_view text;
    if (value.get_string().get(text)) {
        throwEnvelopeKey(key, "must be a string");
    }
    return std::string(text);
}

Envelope toEnvelope(element root) {
    simdjson::dom::object fields;
    if (root.get_object().get(fields)) {
        throw JSONError("envelope must be a JSON object");
    }
    std::optional<std::int64_t> version;
    std::optional<std::string> id;
    std::optional<std::string> type;
    std::optional<JSONObject> payload;
    // Ignored members are still read, so that every object in a frame obeys the same rules.
    JSONObject ignored;
    const auto once = [](auto& field) -> auto& {
        if (field) {
            throwDuplicateKey();
        }
        return field;
    };
    for (const auto [key, value] : fields) {
        if (key == "v") {
            once(version) = toVersion(value);
        } else if (key == "id") {
            once(id) = toText(value, key);
        } else if (key == "type") {
            once(type) = toText(value, key);
        } else if (key == "payload") {
            simdjson::dom::object members;
            if (value.get_object().get(members)) {
                throwEnvelopeKey(key, "must be an object");
            }
            once(payload) = toObject(members);
        } else if (!ignored.try_emplace(std::string(key), toValue(value)).second) {
            throwDuplicateKey();
        }
    }
    if (!version) {
        throwEnvelopeKey("v", "is missing");
    }
    if (!id) {
        throwEnvelopeKey("id", "is missing");
    }
    if (!type) {
        throwEnvelopeKey("type", "is missing");
    }
    if (!payload) {
        throwEnvelopeKey("payload", "is missing");
    }
    Envelope envelope(std::move(*id), std::move(*type), std::move(*payload));
    envelope.v = *version;
    return envelope;
}

} // namespace

JSONValue readValue(std::string_view json) {
    return toValue(parseDocument(json.data(), json.size(), false));
}

Envelope readEnvelope(std::string_view json) {
    return toEnvelope(parseDocument(json.data(), json.size(), false));
}

Envelope readEnvelopeFromBuffer(const std::string& buffer) {
    const bool inPlace = buffer.capacity() - buffer.size() >= padding;
    return toEnvelope(parseDocument(buffer.data(), buffer.size(), inPlace));
}

} // namespace kavrel::JSONReader
