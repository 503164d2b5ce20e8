#include "Platform/QtImageThumbnailer.hpp"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

namespace kavrel {
namespace {

// Left half white, right half black; stored "turned a quarter clockwise", white ends up on top.
std::string encode(QSize size, const char* format, bool turned = false) {
    QImage image(size, QImage::Format_Grayscale8); // cheap to encode at 6000 × 6000
    image.fill(Qt::white);
    QPainter(&image).fillRect(size.width() / 2, 0, size.width(), size.height(), Qt::black);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(turned ? QImageIOHandler::TransformationRotate90
                                    : QImageIOHandler::TransformationNone);
    EXPECT_TRUE(writer.write(image)) << format;
    return buffer.data().toStdString();
}

// Qt decodes a large JPEG at a fraction of its size, so only the declared size guards 6000 × 6000.
TEST(QtImageThumbnailer, FitsTheLongerSideIn256PixelsAndRefusesWhatItShouldNotDecode) {
    std::string padded = encode({64, 64}, "png");
    const std::string truncated = padded.substr(0, 60);
    padded.resize(8'388'608, '\0'); // trailing bytes a reader would ignore
    const std::string gif("GIF89a\1\0\1\0\x80\0\0\xff\xff\xff\0\0\0,\0\0\0\0\1\0\1\0\0\2\2D\1\0;",
                          35); // one white pixel
    const struct {
        const char* label;
        std::string image;
        QSize expected; // invalid: refused
        bool turned = false;
    } cases[] = {
        {"landscape", encode({1000, 500}, "png"), {256, 128}},
        {"portrait", encode({300, 1200}, "jpeg"), {64, 256}},
        {"at the limit", encode({256, 256}, "bmp"), {256, 256}},
        {"small, not enlarged", encode({100, 60}, "jpeg"), {100, 60}},
        {"a line", encode({3000, 1}, "png"), {256, 1}},
        {"gif", gif, {1, 1}},
        {"turned", encode({400, 200}, "jpeg", true), {128, 256}, true},
        {"exactly 8 MiB", padded, {64, 64}},
        {"6000 × 6000", encode({6000, 6000}, "jpeg"), {256, 256}},
        {"6001 × 6000", encode({6001, 6000}, "jpeg"), {}},
        {"more than 8 MiB", padded + '\0', {}},
        {"nothing", "", {}},
        {"not an image", "Kavrel Companion", {}},
        {"a format outside the list", encode({64, 64}, "ppm"), {}},
        {"truncated", truncated, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto base64 = QtImageThumbnailer().thumbnailBase64(c.image);
        ASSERT_EQ(base64.has_value(), c.expected.isValid());
        if (base64) {
            // The JPEG behind a thumbnail: plain standard Base64 of at most 65536 bytes, written at quality
            // 75, whose luminance table (libjpeg's standard one, scaled) peaks at 61.
            const QByteArray jpeg = QByteArray::fromBase64(QByteArray::fromStdString(*base64));
            EXPECT_EQ(jpeg.toBase64().toStdString(), *base64);
            EXPECT_LE(jpeg.size(), 65536);
            const auto table = jpeg.begin() + jpeg.indexOf("\xFF\xDB") + 5;
            EXPECT_EQ(static_cast<unsigned char>(*std::max_element(table, table + 64)), 61);
            const QImage image = QImage::fromData(jpeg, "JPEG");
            EXPECT_EQ(image.size(), c.expected);
            const QPoint white = c.turned ? QPoint(image.width() / 2, 0) : QPoint(0, image.height() / 2);
            EXPECT_GT(qGray(image.pixel(white)), 200);
        }
    }
}

} // namespace
} // namespace kavrel
