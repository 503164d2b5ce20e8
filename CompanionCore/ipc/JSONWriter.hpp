#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <cstddef>
#include <string>
#include <string_view>

// Compact JSON output shared by JSONValue and Envelope. Every function appends to `out` and throws
// JSONError when the value cannot be written; `level` is the nesting level of the container written
// (1 for a top-level array or object), refused beyond JSONValue::maxDepth.
namespace kavrel::JSONWriter {

// Refuses text that is not valid UTF-8: it would reach the peer as JSON that no reader accepts.
void writeString(std::string& out, std::string_view text);

// Shortest text that reads back as the same double, -0.0 included; non-finite numbers are refused.
void writeNumber(std::string& out, double number);

void writeObject(std::string& out, const JSONObject& members, std::size_t level);

void writeValue(std::string& out, const JSONValue& value, std::size_t level);

} // namespace kavrel::JSONWriter
