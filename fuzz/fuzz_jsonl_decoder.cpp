// Feeds the line decoder a byte stream cut into chunks at points the fuzzer chooses, next to a
// decoder that takes one byte at a time exactly as the framing rule is stated. Both must agree on
// every envelope, every failure and the bytes left buffered; the buffer never exceeds the frame
// limit; and every envelope delivered must encode to a line that decodes to an equal envelope.

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/ipc/IPCError.hpp"
#include "CompanionCore/ipc/JSONError.hpp"
#include "CompanionCore/ipc/JSONLDecoder.hpp"
#include "CompanionCore/ipc/JSONReader.hpp"
#include "fuzz/FuzzInvariant.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace kavrel;

enum class Failure { none, oversizedFrame, invalidFrame, json };

struct Outcome {
    std::vector<Envelope> envelopes;
    Failure failure = Failure::none;
};

// The rule as written: test the limit before every byte, read the whole buffer at a line feed.
class ByteByByteDecoder {
public:
    Outcome append(std::string_view chunk) {
        Outcome outcome;
        try {
            for (const char byte : chunk) {
                if (buffer.size() >= JSONLDecoder::limit) {
                    throw IPCException(IPCError::oversizedFrame);
                }
                if (byte != '\n') {
                    buffer.push_back(byte);
                    continue;
                }
                Envelope envelope = JSONReader::readEnvelope(buffer);
                const auto& accepted = JSONLDecoder::acceptedInboundTypes;
                if (!envelope.hasValidHeader() ||
                    std::find(accepted.begin(), accepted.end(), envelope.type) == accepted.end()) {
                    throw IPCException(IPCError::invalidFrame);
                }
                outcome.envelopes.push_back(std::move(envelope));
                buffer.clear();
            }
        } catch (const IPCException& error) {
            outcome.envelopes.clear();
            outcome.failure =
                error.error() == IPCError::oversizedFrame ? Failure::oversizedFrame : Failure::invalidFrame;
        } catch (const JSONError&) {
            outcome.envelopes.clear();
            outcome.failure = Failure::json;
        }
        return outcome;
    }

    // A run of one byte that is not a line feed, by the same rule without a step per byte: the
    // test before each byte lets the buffer grow to the limit and fails on the byte after it.
    Outcome appendRun(char byte, std::size_t count) {
        const std::size_t room = JSONLDecoder::limit - buffer.size();
        buffer.append(std::min(count, room), byte);
        Outcome outcome;
        if (count > room) {
            outcome.failure = Failure::oversizedFrame;
        }
        return outcome;
    }

    std::size_t bufferedBytes() const { return buffer.size(); }
    // Empty again, keeping the memory: one decoder serves every input.
    void reset() { buffer.clear(); }

private:
    std::string buffer;
};

Outcome appendTo(JSONLDecoder& decoder, std::string_view chunk) {
    Outcome outcome;
    try {
        outcome.envelopes = decoder.append(chunk);
    } catch (const IPCException& error) {
        require(error.error() == IPCError::oversizedFrame || error.error() == IPCError::invalidFrame,
                "the decoder raised an IPC error that is not a framing error");
        outcome.failure =
            error.error() == IPCError::oversizedFrame ? Failure::oversizedFrame : Failure::invalidFrame;
    } catch (const JSONError&) {
        outcome.failure = Failure::json;
    }
    return outcome;
}

// A delivered envelope must survive its own encoding. A re-encoded text may be longer than the line
// it came from (1e22 reads back as 1e+22), so only the frame limit may refuse it.
void checkRoundTrip(const Envelope& envelope) {
    std::string line;
    try {
        line = envelope.encodedLine();
    } catch (const IPCException& error) {
        require(error.error() == IPCError::invalidFrame, "encoding failed with a non-framing IPC error");
        // The header was checked on the way in, so only the size of the text may be at fault.
        const std::size_t textBytes = std::string_view(R"({"v":1,"id":,"type":,"payload":})").size() +
                                      JSONValue(envelope.id).serialized().size() +
                                      JSONValue(envelope.type).serialized().size() +
                                      JSONValue(envelope.payload).serialized().size();
        require(textBytes >= frameLimit, "an envelope below the frame limit was refused");
        return;
    } catch (const JSONError&) {
        fail("a decoded envelope cannot be written as JSON");
    }
    require(line.size() <= JSONLDecoder::limit && line.back() == '\n', "encoded line breaks the frame size");
    require(std::count(line.begin(), line.end(), '\n') == 1, "encoded line holds more than one line feed");
    JSONLDecoder fresh;
    std::vector<Envelope> again;
    try {
        again = fresh.append(line);
    } catch (...) {
        fail("an encoded line does not decode");
    }
    require(again.size() == 1 && again.front() == envelope, "a round trip changed the envelope");
    require(!fresh.hasPartialFrame(), "a whole line left bytes buffered");
}

// A run of one byte: cheap to describe, and long enough to reach the frame limit from any buffer.
// It lives in one static buffer, because fresh allocations of this size cost more than the decoding.
std::string_view fill(FuzzedDataProvider& input, std::size_t buffered) {
    static std::string storage(JSONLDecoder::limit + 8, '\0');
    const char byte = input.ConsumeIntegralInRange<int>(0, 3) == 0
                          ? '\n'
                          : static_cast<char>(input.ConsumeIntegral<std::uint8_t>());
    std::size_t count = 0;
    if (input.ConsumeBool()) {
        count = input.ConsumeIntegralInRange<std::size_t>(0, 300);
    } else {
        // Land within a few bytes of the limit, where the framing rule changes its answer.
        const std::size_t room = JSONLDecoder::limit - std::min(buffered, JSONLDecoder::limit);
        const auto offset = input.ConsumeIntegralInRange<int>(-8, 3);
        count = static_cast<std::size_t>(std::max<long long>(0, static_cast<long long>(room) + offset));
    }
    std::fill_n(storage.begin(), count, byte);
    return std::string_view(storage).substr(0, count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    JSONLDecoder decoder;
    static ByteByByteDecoder reference;
    reference.reset();
    while (input.remaining_bytes() > 0) {
        std::string literal;
        std::string_view chunk;
        const bool run = input.ConsumeIntegralInRange<int>(0, 7) == 0;
        if (run) {
            chunk = fill(input, decoder.bufferedBytes());
        } else {
            literal = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, 512));
            chunk = literal;
        }
        const Outcome actual = appendTo(decoder, chunk);
        const Outcome expected = run && !chunk.empty() && chunk.front() != '\n'
                                     ? reference.appendRun(chunk.front(), chunk.size())
                                     : reference.append(chunk);
        require(actual.failure == expected.failure, "the chunked decoder failed differently");
        require(actual.envelopes == expected.envelopes, "the chunked decoder delivered other envelopes");
        require(decoder.bufferedBytes() == reference.bufferedBytes(),
                "the chunked decoder buffered other bytes");
        require(decoder.bufferedBytes() <= JSONLDecoder::limit, "the buffer exceeds the frame limit");
        require(decoder.hasPartialFrame() == (decoder.bufferedBytes() > 0), "partial frame flag is wrong");
        for (const auto& envelope : actual.envelopes) {
            checkRoundTrip(envelope);
        }
    }
    return 0;
}
