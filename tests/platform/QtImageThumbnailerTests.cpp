#include "Platform/QtImageThumbnailer.hpp"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

#include <cstdint>
#include <string>

namespace kavrel {
namespace {

std::string encode(const QImage& image, const char* format,
                   QImageIOHandler::Transformation transformation = QImageIOHandler::TransformationNone) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(transformation);
    EXPECT_TRUE(writer.write(image)) << format;
    return bytes.toStdString();
}

QImage halves(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    for (int y = 0; y < height; ++y) {
        for (int x = width / 2; x < width; ++x) {
            image.setPixel(x, y, qRgb(0, 0, 255));
        }
    }
    return image;
}

// The JPEG behind a thumbnail, after checking that the text is plain standard Base64.
QImage decoded(const std::string& base64) {
    EXPECT_EQ(base64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    const auto jpeg = QByteArray::fromBase64(QByteArray::fromStdString(base64));
    EXPECT_TRUE(jpeg.startsWith("\xFF\xD8\xFF"));
    EXPECT_LE(static_cast<std::size_t>(jpeg.size()), ImageThumbnailer::maxOutputBytes);
    return QImage::fromData(jpeg, "JPEG");
}

std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void appendChunk(QByteArray& png, const char* type, const QByteArray& data) {
    char length[4];
    qToBigEndian(static_cast<quint32>(data.size()), length);
    png.append(length, 4);
    const QByteArray typed = QByteArray(type) + data;
    png.append(typed);
    char crc[4];
    qToBigEndian(crc32(typed), crc);
    png.append(crc, 4);
}

// A black 8-bit greyscale PNG built by hand, so its header may declare any size. The pixel data is
// only made when asked, since a bomb's point is that it is not there.
std::string greyPNG(quint32 width, quint32 height, bool withPixels) {
    QByteArray png("\x89PNG\r\n\x1A\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = 8; // bit depth; colour type 0 (grey) and the defaults follow
    appendChunk(png, "IHDR", header);
    const QByteArray rows =
        withPixels ? QByteArray(static_cast<qsizetype>(height) * (width + 1), '\0') : QByteArray(64, '\0');
    appendChunk(png, "IDAT", qCompress(rows).mid(4)); // qCompress prefixes the zlib stream with its size
    appendChunk(png, "IEND", {});
    return png.toStdString();
}

TEST(QtImageThumbnailer, ShrinksToTheLongerSideWithoutEnlarging) {
    struct Case {
        int width, height;
        const char* format;
        QSize expected;
    };
    const Case cases[] = {
        {1000, 500, "png", {256, 128}}, {300, 1200, "jpeg", {64, 256}}, {256, 256, "bmp", {256, 256}},
        {100, 60, "jpeg", {100, 60}},   {3000, 1, "png", {256, 1}},
    };
    const QtImageThumbnailer thumbnailer;
    for (const auto& testCase : cases) {
        const auto thumbnail =
            thumbnailer.thumbnailBase64(encode(halves(testCase.width, testCase.height), testCase.format));
        ASSERT_TRUE(thumbnail) << testCase.format << ' ' << testCase.width;
        EXPECT_EQ(decoded(*thumbnail).size(), testCase.expected) << testCase.format << ' ' << testCase.width;
    }
}

TEST(QtImageThumbnailer, AppliesTheStoredOrientation) {
    // Left half red, right half blue, stored with "turn a quarter clockwise": red ends up on top.
    const auto thumbnail = QtImageThumbnailer().thumbnailBase64(
        encode(halves(400, 200), "jpeg", QImageIOHandler::TransformationRotate90));
    ASSERT_TRUE(thumbnail);
    const QImage image = decoded(*thumbnail);
    ASSERT_EQ(image.size(), QSize(128, 256));
    EXPECT_GT(qRed(image.pixel(64, 20)), 200);
    EXPECT_GT(qBlue(image.pixel(64, 236)), 200);
}

TEST(QtImageThumbnailer, RefusesWhatItShouldNotDecode) {
    const QtImageThumbnailer thumbnailer;
    std::string padded = encode(halves(64, 64), "png");
    padded.resize(ImageThumbnailer::maxInputBytes + 1, '\0'); // trailing bytes a reader would ignore
    const struct {
        const char* name;
        std::string input;
    } cases[] = {
        {"nothing", ""},
        {"not an image", "Kavrel Companion"},
        {"too large", padded},
        {"format outside the list", encode(halves(64, 64), "ppm")},
        {"truncated", encode(halves(64, 64), "png").substr(0, 60)},
        {"bomb header", greyPNG(100'000, 100'000, false)},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(thumbnailer.thumbnailBase64(testCase.input), std::nullopt) << testCase.name;
    }
}

TEST(QtImageThumbnailer, DeclaredSizeDecidesBeforeDecoding) {
    const QtImageThumbnailer thumbnailer;
    // The hand-made image is sound: a small one goes through.
    const auto small = thumbnailer.thumbnailBase64(greyPNG(600, 400, true));
    ASSERT_TRUE(small);
    EXPECT_EQ(decoded(*small).size(), QSize(256, 170));

    // Just over the pixel bound, though Qt would decode it: refused from its header alone.
    const auto large = greyPNG(6001, 6000, true);
    ASSERT_LE(large.size(), ImageThumbnailer::maxInputBytes);
    EXPECT_EQ(thumbnailer.thumbnailBase64(large), std::nullopt);
}

} // namespace
} // namespace kavrel
