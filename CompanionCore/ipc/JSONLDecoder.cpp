#include "CompanionCore/ipc/JSONLDecoder.hpp"

#include "CompanionCore/ipc/IPCError.hpp"
#include "CompanionCore/ipc/JSONReader.hpp"

#include <algorithm>
#include <cstring>

namespace kavrel {

// Takes whole runs up to each line feed instead of single bytes; where the byte-by-byte limit rule
// would trip inside a run is computed, so the buffer ends exactly as that rule leaves it.
std::vector<Envelope> JSONLDecoder::append(std::string_view chunk) {
    std::vector<Envelope> completed;
    while (!chunk.empty()) {
        const auto* lineFeed = static_cast<const char*>(std::memchr(chunk.data(), '\n', chunk.size()));
        const std::size_t runLength =
            lineFeed ? static_cast<std::size_t>(lineFeed - chunk.data()) : chunk.size();
        const std::size_t bytesTaken = lineFeed ? runLength + 1 : runLength;
        const std::size_t room = limit - buffer.size();
        if (bytesTaken > room) {
            buffer.append(chunk.data(), std::min(runLength, room));
            throw IPCException(IPCError::oversizedFrame);
        }
        buffer.append(chunk.data(), runLength);
        chunk.remove_prefix(bytesTaken);
        if (lineFeed) {
            completed.push_back(readBufferedLine());
        }
    }
    return completed;
}

Envelope JSONLDecoder::readBufferedLine() {
    buffer.reserve(buffer.size() + JSONReader::padding);
    Envelope envelope = JSONReader::readEnvelopeFromBuffer(buffer);
    const bool accepted = std::find(acceptedInboundTypes.begin(), acceptedInboundTypes.end(),
                                    envelope.type) != acceptedInboundTypes.end();
    if (!envelope.hasValidHeader() || !accepted) {
        throw IPCException(IPCError::invalidFrame);
    }
    buffer.clear();
    return envelope;
}

} // namespace kavrel
