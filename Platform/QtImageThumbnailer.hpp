#pragma once

#include "CompanionCore/music/ImageThumbnailer.hpp"

#include <cstdint>

namespace kavrel {

// Thumbnails with Qt's image readers and JPEG writer. Reentrant: instances share no state, so each
// queue may use its own or one instance may serve several threads.
class QtImageThumbnailer final : public ImageThumbnailer {
public:
    // The largest image accepted by its declared size: 6000 × 6000, about 144 MB at 32 bits per pixel.
    // An image that declares more is refused before a single pixel is decoded.
    static constexpr std::int64_t maxDecodedPixels = 36'000'000;

    std::optional<std::string> thumbnailBase64(std::string_view encodedImage) const override;
};

} // namespace kavrel
