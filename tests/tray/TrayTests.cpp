// The tray as a StatusNotifierItem panel sees it (Plasma, AppIndicator, XFCE, waybar): a test watcher on
// the session bus, the companion started as a user starts it, and everything read back over D-Bus alone.
// Runs inside tray/in-private-session.sh; KAVREL_COMPANION names the program (default: this build's).

#include "support/ExpectedTexts.hpp"
#include "tray/StatusNotifierWatcher.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <functional>

namespace kavrel {
namespace {

constexpr int boundMs = 30000;

bool eventually(const std::function<bool()>& condition) {
    const QDeadlineTimer deadline(boundMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

// Answers the companion's own calls to the watcher while waiting, or both sides would wait for each other.
QVariant call(const QString& service, const QString& path, const QString& interface, const QString& method,
              const QVariantList& arguments, int index = 0) {
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, boundMs).arguments().value(index);
}

struct MenuEntry {
    int id = 0;
    QString text; // label, "—" for a separator, " (off)" when disabled, " [shortcut]"
};

// The top level of a (ia{sv}av) layout.
std::vector<MenuEntry> entries(const QDBusArgument& root) {
    std::vector<MenuEntry> found;
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const auto node = child.variant().value<QDBusArgument>();
        node.beginStructure();
        node >> id >> properties;
        QList<QStringList> chords;
        if (properties.contains("shortcut")) {
            properties.value("shortcut").value<QDBusArgument>() >> chords;
        }
        found.push_back(
            {id, (properties.value("type") == "separator" ? "—" : properties.value("label").toString()) +
                     (properties.value("enabled", true).toBool() ? "" : " (off)") +
                     (chords.isEmpty() ? "" : " [" + chords[0].join('+') + "]")});
    }
    return found;
}

struct Pixmap { // (iiay)
    int width = 0;
    int height = 0;
    QByteArray argb;
};

const QDBusArgument& operator>>(const QDBusArgument& in, Pixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}

bool settingsWindowShown() {
    QProcess search;
    search.setStandardOutputFile(QProcess::nullDevice());
    search.start("xdotool", {"search", "--onlyvisible", "--name",
                             QStringLiteral("^%1$").arg(expected::settingsWindowTitle)});
    return search.waitForFinished(boundMs) && search.exitCode() == 0;
}

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

TEST(TrayTest, TheItemShowsTheCompanionAndItsMenuWorks) {
    StatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.publish()) << "another StatusNotifierWatcher owns this bus";
    // A user who has seen the settings window once: start-up shows the tray item only.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/KavrelCompanion";
    QFile preferences(config + "/preferences.json");
    ASSERT_TRUE(QDir().mkpath(config) && preferences.open(QIODevice::WriteOnly));
    preferences.write(R"({"openedSettings":true})");
    preferences.close();
    QProcess companion;
    companion.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    companion.start(qEnvironmentVariable("KAVREL_COMPANION", KAVREL_COMPANION_PATH), {});
    ASSERT_TRUE(eventually([&] { return !watcher.items().isEmpty(); })) << "no item registered";
    ASSERT_EQ(watcher.items().size(), 1);
    const QString service = watcher.items().front();
    const auto item = [&](const QString& name) {
        return call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                    {"org.kde.StatusNotifierItem", name})
            .value<QDBusVariant>()
            .variant();
    };
    EXPECT_EQ(item("Title").toString(), expected::trayTitle);
    EXPECT_EQ(item("Status").toString(), "Active"); // a panel hides passive items

    // The red heart, whichever way the icon travels: pixmaps (ARGB32, network order) or a named file.
    QImage icon;
    QList<Pixmap> pixmaps;
    item("IconPixmap").value<QDBusArgument>() >> pixmaps;
    for (const auto& [width, height, argb] : pixmaps) {
        if (width > icon.width() && argb.size() == 4 * width * height) {
            icon = QImage(width, height, QImage::Format_ARGB32);
            for (int i = 0; i < width * height; ++i) {
                const auto* p = reinterpret_cast<const uchar*>(argb.constData()) + 4 * i;
                icon.setPixel(i % width, i / width, qRgba(p[1], p[2], p[3], p[0]));
            }
        }
    }
    if (icon.isNull()) {
        icon.load(QDir(item("IconThemePath").toString()).filePath(item("IconName").toString()));
    }
    const QColor centre = icon.pixelColor(icon.width() / 2, icon.height() / 2);
    EXPECT_TRUE(centre.alpha() > 200 && centre.red() > 180 && centre.green() < 100 && centre.blue() < 120)
        << "centre " << centre.name(QColor::HexArgb).toStdString();
    const auto toolTip = item("ToolTip").value<QDBusArgument>(); // (icon name, pixmaps, title, text)
    QString iconName, title;
    toolTip.beginStructure();
    toolTip >> iconName >> pixmaps >> title;
    EXPECT_EQ(title, expected::trayTitle);

    const QString menuPath = item("Menu").value<QDBusObjectPath>().path();
    const auto menu = [&] {
        return entries(
            call(service, menuPath, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList{}}, 1)
                .value<QDBusArgument>());
    };
    const QString ready = expected::helperReady + QStringLiteral(" (off)");
    ASSERT_TRUE(eventually([&] { return !menu().empty() && menu()[0].text == ready; }));
    const auto shown = menu();
    QStringList texts;
    for (const auto& entry : shown) {
        texts << entry.text;
    }
    EXPECT_EQ(
        texts,
        (QStringList{ready, "—", expected::menuAbout, expected::menuSettings + QStringLiteral(" [Control+,]"),
                     expected::menuOpenKavrel, expected::menuCheckForUpdates, expected::menuReconnect,
                     expected::menuPauseConnector, "—", expected::quit + QStringLiteral(" [Control+Q]")}));
    ASSERT_EQ(shown.size(), 10U);
    const auto click = [&](int index) {
        call(service, menuPath, "com.canonical.dbusmenu", "Event",
             {shown[index].id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0U});
    };

    EXPECT_FALSE(settingsWindowShown());
    click(3);
    EXPECT_TRUE(eventually(settingsWindowShown));

    // Quit ends the companion and its connector (reaped, or a zombie of a parent that is gone itself).
    QStringList connectors;
    for (const auto& child :
         readAll(QStringLiteral("/proc/%1/task/%1/children").arg(companion.processId())).split(' ')) {
        if (readAll("/proc/" + child + "/comm") == "kavrel-roon") {
            connectors << child;
        }
    }
    ASSERT_EQ(connectors.size(), 1);
    click(9);
    ASSERT_TRUE(eventually([&] { return companion.state() == QProcess::NotRunning; }));
    EXPECT_EQ(companion.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(companion.exitCode(), 0);
    EXPECT_TRUE(eventually([&] {
        const QString stat = readAll("/proc/" + connectors[0] + "/stat");
        return stat.isEmpty() || stat.contains(") Z ");
    }));
}

} // namespace
} // namespace kavrel

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
