#include "Platform/JournalLogger.hpp"
#include "Platform/QtImageThumbnailer.hpp"
#include "Platform/QtWorkspace.hpp"
#include "Platform/SingleInstanceSignal.hpp"
#include "Platform/SystemInfo.hpp"

#include "platform/EnvironmentOverride.hpp"
#include "platform/PrivateSessionBus.hpp"
#include "platform/QtLoopTest.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace kavrel {
namespace {

TEST(SystemInfo, ReadsPrettyNameInEveryQuotingOfOsReleaseAndNamesWhatIsUnknown) {
    // Each row also holds the assignments that a wrong reading would pick instead.
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"PRETTY_NAME='Fedora Linux 40'\nNAME=\"Fedora\"\n", "Fedora Linux 40"},
        {"PRETTY_NAME=\"First\"\nID=arch\nPRETTY_NAME=Arch", "Arch"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" for \\$5 \\\\ \\n\"", "Say \"hi\" for $5 \\ \\n"},
        {"PRETTY_NAME='a\\\"b'", "a\\\"b"},
        {"# PRETTY_NAME=\"No\"\n\n  PRETTY_NAME=\"Indented\"\r\nMY_PRETTY_NAME=\"Other\"\n", "Indented"},
        {"PRETTY_NAME_X=1\n", std::nullopt},
        {"PRETTY_NAME=\"   \"\n", std::nullopt},
        {"PRETTY_NAME=\"Bad\x1b[31m\tName", "Bad[31mName"}, // nor is the quote closed
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SystemInfo::prettyName(text), expected) << text;
    }
    // Versions name what is unknown.
    EXPECT_EQ(SystemInfo::osVersion(std::nullopt, std::nullopt), "unknown \u00b7 unknown");
    EXPECT_NE(SystemInfo::osVersion().find(" \u00b7 Linux "), std::string::npos) << SystemInfo::osVersion();
    const BuildInfo empty = SystemInfo::buildInfo("", "", "x");
    EXPECT_EQ(std::tie(empty.shortVersion, empty.build), std::make_tuple("unknown", "unknown"));
    EXPECT_NE(SystemInfo::buildInfo().shortVersion, "unknown") << "the build always has a project version";
}

TEST(JournalLogger, WithoutAJournalEachEntryIsOneLineOnTheFallback) {
    const int fallback = ::open("/tmp", O_TMPFILE | O_RDWR, 0600);
    {
        JournalLogger logger("/nonexistent/journal/socket", fallback);
        logger.info("discovery", "outcome=found");
        logger.warning("preferences", "two\nlines\\ and a \x1b escape");
        logger.error("roon", "gone");
    }
    EXPECT_EQ(contentsOf("/proc/self/fd/" + std::to_string(fallback)),
              "kavrel-companion[discovery]: outcome=found\n"
              "kavrel-companion[preferences]: warning: two\\nlines\\\\ and a \\x1b escape\n"
              "kavrel-companion[roon]: error: gone\n");
    ::close(fallback);
}

// Only refusals: an accepted address would start the desktop's browser.
TEST(QtWorkspace, RefusesWhatIsNotAWebPageWithoutStartingAnything) {
    for (const char* url :
         {"", "not a url", "file:///etc/passwd", "javascript:alert(1)", "mailto:a@b.example",
          "x-kavrel://settings", "https://", "https://exa mple.com/"}) {
        EXPECT_FALSE(QtWorkspace().open(url)) << url;
    }
}

// Set for the copy of this binary that plays the second instance; "no-bus" when it is given none.
constexpr const char* emitterMarker = "KAVREL_EMIT_SHOW_SETTINGS";

// Wayland's token is the one a compositor asks for; an empty variable counts as none.
TEST(SingleInstanceSignalToken, IsWaylandsBeforeX11sAndEmptyWithoutEither) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"", "x11_TIME42", "x11_TIME42"}, {"wayland-8", "x11_TIME43", "wayland-8"}, {"", "", ""}};
    for (const auto& [wayland, x11, token] : cases) {
        const EnvironmentOverride waylandToken("XDG_ACTIVATION_TOKEN", wayland);
        const EnvironmentOverride x11Token("DESKTOP_STARTUP_ID", x11);
        EXPECT_EQ(SingleInstanceSignal::launchActivationToken(), token);
    }
}

using SingleInstanceSignalInside = QtLoopTest;

// Run again with the marker set, the test plays a second instance that sends, says whether it could, and
// exits at once.
TEST_F(SingleInstanceSignalInside, SecondInstancesAndOtherToolsAreHeard) {
    if (!PrivateSessionBus::inside()) {
        GTEST_SKIP()
            << "runs only inside the private bus that SingleInstanceSignal.OnAPrivateSessionBus starts";
    }
    if (const char* marker = std::getenv(emitterMarker)) {
        const bool busExpected = std::string_view(marker) != "no-bus";
        EXPECT_EQ(SingleInstanceSignal::emitShowSettings(SingleInstanceSignal::launchActivationToken()),
                  busExpected);
        EXPECT_EQ(SingleInstanceSignal([](const std::string&) {}).listening(), busExpected);
        return;
    }
    std::multiset<std::string> tokens;
    const SingleInstanceSignal listener([&](const std::string& token) { tokens.insert(token); });
    ASSERT_TRUE(listener.listening());
    // A second instance that exits right after sending its token, then the documented name sent without
    // a token by a tool that knows nothing of this code.
    const QString self = QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string());
    const QStringList emitter{"--gtest_filter=SingleInstanceSignalInside.*"};
    {
        const EnvironmentOverride token("XDG_ACTIVATION_TOKEN", "wayland-8");
        const EnvironmentOverride marker(emitterMarker, "bus");
        EXPECT_EQ(QProcess::execute(self, emitter), 0);
    }
    EXPECT_EQ(
        QProcess::execute("dbus-send", {"--session", "--type=signal", "/com/quartzfield/kavrel/Companion",
                                        "com.quartzfield.kavrel.showSettings"}),
        0);
    ASSERT_TRUE(runUntil([&] { return tokens.size() == 2; }));
    EXPECT_EQ(tokens, (std::multiset<std::string>{"", "wayland-8"})) << "the two may arrive in either order";

    // Without a bus, sending and listening say so.
    const EnvironmentOverride marker(emitterMarker, "no-bus");
    const EnvironmentOverride bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavrel-bus");
    EXPECT_EQ(QProcess::execute(self, emitter), 0);
}

TEST(SingleInstanceSignal, OnAPrivateSessionBus) {
    if (PrivateSessionBus::inside()) {
        GTEST_SKIP() << "already inside";
    }
    if (!PrivateSessionBus::available()) {
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus); the D-Bus signal test cannot run";
    }
    EXPECT_EQ(PrivateSessionBus::runTests("SingleInstanceSignalInside.*"), 0)
        << "the test inside the private session bus failed (output above)";
}

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
