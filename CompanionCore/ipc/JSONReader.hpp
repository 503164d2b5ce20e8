#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/ipc/JSONValue.hpp"

#include <cstddef>
#include <string>
#include <string_view>

// Reads JSON text with one depth-limited parser per thread, so repeated reads reuse its memory.
// Text is refused with JSONError when it is not one JSON value, not valid UTF-8, nests deeper than
// JSONValue::maxDepth, or repeats a key within one object. Every number reads as the nearest double,
// integers beyond 64 bits included; only a number beyond the range of a double is refused.
namespace kavrel::JSONReader {

// Spare capacity after a buffer's contents that lets it be read in place, without a copy.
inline constexpr std::size_t padding = 64;

JSONValue readValue(std::string_view json);

Envelope readEnvelope(std::string_view json);

// The same, read in place when `buffer` has `padding` bytes of spare capacity.
Envelope readEnvelopeFromBuffer(const std::string& buffer);

} // namespace kavrel::JSONReader
