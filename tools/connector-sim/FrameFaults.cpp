#include "tools/connector-sim/FrameFaults.hpp"

#include "CompanionCore/ipc/Envelope.hpp"

#include <stdexcept>

namespace kavrel::FrameFaults {

std::string paddedStatusLine(std::size_t textBytes, const std::string& id) {
    // Written by hand: the envelope writer refuses frames at the limit, and this one must reach it.
    const std::string head = R"({"v":1,"id":")" + id + R"(","type":"status","payload":{"padding":")";
    const std::string tail = R"("}})";
    if (textBytes < head.size() + tail.size()) {
        throw std::invalid_argument("padded status line too short for its envelope");
    }
    return head + std::string(textBytes - head.size() - tail.size(), 'a') + tail + "\n";
}

std::vector<std::string> afterHandshake(const SimulatorOptions& options, const JSONObject& status,
                                        const std::function<std::string()>& makeIdentifier) {
    std::vector<std::string> output;
    if (options.garbageLine) {
        output.emplace_back("this is not json\n");
    }
    if (options.largestFrame) {
        output.push_back(paddedStatusLine(frameLimit - 1, makeIdentifier()));
    }
    if (options.unknownResultId) {
        output.push_back(Envelope("unknown-" + makeIdentifier(), "result", {{"ok", true}}).encodedLine());
    }
    for (std::uint64_t sent = 0; sent < options.burstStatus; ++sent) {
        output.push_back(Envelope(makeIdentifier(), "status", status).encodedLine());
    }
    if (options.burstResults > 0) {
        std::string burst;
        for (std::uint64_t sent = 0; sent < options.burstResults; ++sent) {
            burst += Envelope("unknown-" + makeIdentifier(), "result", {{"ok", true}}).encodedLine();
        }
        output.push_back(std::move(burst));
    }
    if (options.lfAfterExactLimit) {
        output.push_back(paddedStatusLine(frameLimit, makeIdentifier()));
    }
    if (options.oversizedFrame) {
        output.emplace_back(frameLimit + 1, 'a');
    }
    return output;
}

} // namespace kavrel::FrameFaults
