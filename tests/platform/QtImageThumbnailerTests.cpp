#include "Platform/QtImageThumbnailer.hpp"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

namespace kavrel {
namespace {

std::string encode(const QImage& image, const char* format,
                   QImageIOHandler::Transformation transformation = QImageIOHandler::TransformationNone) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(transformation);
    EXPECT_TRUE(writer.write(image)) << format;
    return buffer.data().toStdString();
}

// Left half red, right half blue (in grey for large images, which are cheap to encode).
QImage picture(QSize size, QImage::Format format = QImage::Format_RGB32) {
    QImage image(size, format);
    image.fill(Qt::red);
    QPainter(&image).fillRect(size.width() / 2, 0, size.width(), size.height(), Qt::blue);
    return image;
}

std::optional<std::string> thumbnail(const std::string& image) {
    return QtImageThumbnailer().thumbnailBase64(image);
}

// The JPEG behind a thumbnail: plain standard Base64 of at most 65536 bytes, written at quality 75,
// whose luminance table (libjpeg's standard one, scaled) peaks at 61.
QImage decoded(const std::string& base64) {
    EXPECT_EQ(base64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    const QByteArray jpeg = QByteArray::fromBase64(QByteArray::fromStdString(base64));
    EXPECT_LE(jpeg.size(), 65536);
    const auto table = jpeg.begin() + jpeg.indexOf("\xFF\xDB") + 5;
    EXPECT_EQ(static_cast<unsigned char>(*std::max_element(table, table + 64)), 61);
    return QImage::fromData(jpeg, "JPEG");
}

TEST(QtImageThumbnailer, FitsTheLongerSideIn256PixelsWithTheOrientationApplied) {
    const struct {
        QSize size;
        const char* format;
        QSize expected;
        bool turned = false; // stored with "turn a quarter clockwise": red ends up on top
    } cases[] = {{{1000, 500}, "png", {256, 128}}, {{300, 1200}, "jpeg", {64, 256}},
                 {{256, 256}, "bmp", {256, 256}},  {{100, 60}, "jpeg", {100, 60}},
                 {{3000, 1}, "png", {256, 1}},     {{400, 200}, "jpeg", {128, 256}, true}};
    for (const auto& c : cases) {
        const auto base64 = thumbnail(
            encode(picture(c.size), c.format,
                   c.turned ? QImageIOHandler::TransformationRotate90 : QImageIOHandler::TransformationNone));
        ASSERT_TRUE(base64) << c.format << ' ' << c.size.width();
        const QImage image = decoded(*base64);
        EXPECT_EQ(image.size(), c.expected) << c.format << ' ' << c.size.width();
        EXPECT_GT(qRed(image.pixel(c.turned ? QPoint(image.width() / 2, 2) : QPoint(2, image.height() / 2))),
                  200);
    }
    // Qt decodes a large JPEG at a fraction of its size, so only the declared size guards it.
    EXPECT_TRUE(thumbnail(encode(picture({6000, 6000}, QImage::Format_Grayscale8), "jpeg"))) << "6000 × 6000";
    EXPECT_EQ(thumbnail(encode(picture({6001, 6000}, QImage::Format_Grayscale8), "jpeg")), std::nullopt);
}

TEST(QtImageThumbnailer, RefusesWhatItShouldNotDecode) {
    std::string padded = encode(picture({64, 64}), "png");
    const std::string truncated = padded.substr(0, 60);
    padded.resize(8'388'609, '\0'); // trailing bytes a reader would ignore
    const std::pair<const char*, std::string> cases[] = {
        {"nothing", ""},
        {"not an image", "Kavrel Companion"},
        {"more than 8 MiB", padded},
        {"a format outside the list", encode(picture({64, 64}), "ppm")},
        {"truncated", truncated},
    };
    for (const auto& [name, input] : cases) {
        EXPECT_EQ(thumbnail(input), std::nullopt) << name;
    }
    padded.resize(8'388'608);
    EXPECT_TRUE(thumbnail(padded)) << "exactly 8 MiB";
}

} // namespace
} // namespace kavrel
