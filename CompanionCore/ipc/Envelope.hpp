#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavrel {

inline constexpr std::size_t maxIdentifierBytes = 128;

// A frame's JSON text must stay below this many bytes, in both directions.
inline constexpr std::size_t frameLimit = 262'144;

// One message between the application and the connector.
struct Envelope {
    std::int64_t v = 1;
    std::string id;
    std::string type;
    JSONObject payload;

    Envelope() = default;
    Envelope(std::string id, std::string type, JSONObject payload);

    // Version 1 and an identifier of 1 to maxIdentifierBytes bytes.
    bool hasValidHeader() const noexcept;

    // The compact JSON text and one line feed. Throws JSONError when the payload cannot be written,
    // IPCException(invalidFrame) when the header is invalid or the text holds frameLimit bytes or more.
    std::string encodedLine() const;
    // The same, written over `out`'s contents: with enough capacity reserved the text is built in
    // that one buffer, leaving no copies of it behind in freed memory.
    void encodeLine(std::string& out) const;

    // Reads the keys "v" (an integer: a JSON number with an exact int64 value, so 1.0 is accepted),
    // "id" and "type" (strings) and "payload" (an object); other keys are ignored. Any missing or
    // mistyped key throws JSONError. No framing rule is checked here.
    static Envelope decode(std::string_view json);

    friend bool operator==(const Envelope&, const Envelope&) = default;
};

} // namespace kavrel
