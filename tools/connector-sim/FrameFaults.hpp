#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"
#include "tools/connector-sim/SimulatorOptions.hpp"

#include <functional>
#include <string>
#include <vector>

namespace kavrel::FrameFaults {

// A status line whose JSON text holds exactly `textBytes` bytes, followed by a line feed.
std::string paddedStatusLine(std::size_t textBytes, const std::string& id);

// The raw output the options ask for once the handshake has succeeded, in the order written, one
// write each: a line that is not JSON, a frame of the largest accepted size, a result nobody asked
// for, a burst of status messages, a burst of results for nothing (all in one write), a frame one byte
// too long before its line feed, and a line that never ends.
std::vector<std::string> afterHandshake(const SimulatorOptions& options, const JSONObject& status,
                                        const std::function<std::string()>& makeIdentifier);

} // namespace kavrel::FrameFaults
