#include "Platform/QtImageThumbnailer.hpp"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSize>

#include <algorithm>
#include <array>
#include <string_view>

namespace kavrel {

namespace {

// Raster formats that cover artwork in practice; vector and exotic formats (SVG, TIFF with its many
// codecs) are left out because decoding them is costly or hard to bound.
constexpr std::array<std::string_view, 4> acceptedFormats = {"jpeg", "png", "gif", "bmp"};

bool isAcceptedFormat(const QByteArray& format) {
    const std::string_view name(format.constData(), static_cast<std::size_t>(format.size()));
    return std::find(acceptedFormats.begin(), acceptedFormats.end(), name) != acceptedFormats.end();
}

// The image's size fitted inside maxSide × maxSide with its aspect ratio kept; never enlarged. With
// auto-transform the reader reports the size with the orientation applied and takes the scaled size in
// that same frame.
QSize thumbnailSize(QSize declared) {
    if (std::max(declared.width(), declared.height()) <= ImageThumbnailer::maxSide) {
        return declared;
    }
    return declared.scaled(ImageThumbnailer::maxSide, ImageThumbnailer::maxSide, Qt::KeepAspectRatio)
        .expandedTo(QSize(1, 1));
}

} // namespace

std::optional<std::string> QtImageThumbnailer::thumbnailBase64(std::string_view encodedImage) const {
    if (encodedImage.empty() || encodedImage.size() > maxInputBytes) {
        return std::nullopt;
    }
    // The bytes are only read while this call runs, so no copy is needed.
    const QByteArray input =
        QByteArray::fromRawData(encodedImage.data(), static_cast<qsizetype>(encodedImage.size()));
    QBuffer source;
    source.setData(input);
    if (!source.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QImageReader reader(&source);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!isAcceptedFormat(reader.format())) {
        return std::nullopt;
    }
    // The header's declared size decides, before decoding, whether the image may be decoded at all.
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty() ||
        static_cast<std::int64_t>(declared.width()) * declared.height() > maxDecodedPixels) {
        return std::nullopt;
    }
    reader.setScaledSize(thumbnailSize(declared));
    const QImage thumbnail = reader.read();
    if (thumbnail.isNull()) {
        return std::nullopt;
    }

    QByteArray jpeg;
    QBuffer sink(&jpeg);
    if (!sink.open(QIODevice::WriteOnly)) {
        return std::nullopt;
    }
    QImageWriter writer(&sink, "jpeg");
    writer.setQuality(jpegQuality);
    if (!writer.write(thumbnail) || static_cast<std::size_t>(jpeg.size()) > maxOutputBytes) {
        return std::nullopt;
    }
    const QByteArray text = jpeg.toBase64();
    return std::string(text.constData(), static_cast<std::size_t>(text.size()));
}

} // namespace kavrel
