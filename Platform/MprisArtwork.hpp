#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kavrel {

// Cover art that a player names by mpris:artUrl. Only local files are read: remote URLs are never
// fetched, and anything but a regular file (a FIFO, a device, a directory) or a file over the limit
// gives no artwork instead of blocking or filling memory.
namespace MprisArtwork {

std::optional<std::vector<std::uint8_t>> readLocalFile(std::string_view artUrl, std::size_t limit);

} // namespace MprisArtwork
} // namespace kavrel
