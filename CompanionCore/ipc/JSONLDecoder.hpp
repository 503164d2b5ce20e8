#pragma once

#include "CompanionCore/ipc/Envelope.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// Cuts the connector's output stream into envelopes, one per line.
class JSONLDecoder {
public:
    // A line's JSON text may hold at most limit - 1 bytes.
    static constexpr std::size_t limit = frameLimit;
    static constexpr std::array<std::string_view, 3> acceptedInboundTypes{"result", "status",
                                                                          "nativeCommand"};

    // The envelopes completed by this chunk, in stream order. Throws IPCException(oversizedFrame) once
    // `limit` bytes are buffered and another byte arrives, the reader's JSONError for a line that is
    // not an envelope, and IPCException(invalidFrame) for an invalid header or an unaccepted type.
    // On failure the envelopes completed earlier in the chunk are lost and the buffer holds every
    // byte before the failing one.
    std::vector<Envelope> append(std::string_view chunk);

    // A line has begun and its line feed has not arrived yet.
    bool hasPartialFrame() const noexcept { return !buffer.empty(); }
    std::size_t bufferedBytes() const noexcept { return buffer.size(); }

private:
    Envelope readBufferedLine();

    // Never holds more than `limit` bytes.
    std::string buffer;
};

} // namespace kavrel
