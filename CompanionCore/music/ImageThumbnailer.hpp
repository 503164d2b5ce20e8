#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

// Turns a track's raw cover art (as the music app stores it: JPEG, PNG, ...) into the small JPEG
// that snapshots carry as track.artworkBase64. The music bridge hands over raw bytes only, so no image
// library reaches it; the access object that reads artwork calls this port on the artwork queue.
class ImageThumbnailer {
public:
    // Raw artwork larger than this is refused unread.
    static constexpr std::size_t maxInputBytes = 8'388'608;
    // The thumbnail's longer side, after the image's orientation is applied; smaller art is not enlarged.
    static constexpr int maxSide = 256;
    static constexpr int jpegQuality = 75;
    // A thumbnail whose JPEG is larger than this is not used: it would bloat every snapshot.
    static constexpr std::size_t maxOutputBytes = 65'536;

    virtual ~ImageThumbnailer() = default;

    // The standard Base64 text (no line breaks) of the JPEG thumbnail, or none when the input is too
    // large, is not a supported image, would need too much memory to decode, or encodes too large.
    // Safe to call from any one thread at a time per instance.
    virtual std::optional<std::string> thumbnailBase64(std::string_view encodedImage) const = 0;
};

} // namespace kavrel
