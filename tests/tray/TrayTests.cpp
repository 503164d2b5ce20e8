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

#include <algorithm>
#include <functional>
#include <vector>

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
QDBusMessage call(const QDBusMessage& message) {
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, boundMs);
}

struct Pixmap {
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

struct MenuEntry {
    int id = 0;
    QString label;
    bool enabled = true;
    QString shortcut;
    std::vector<MenuEntry> children;
};

// One (ia{sv}av) layout node with its children; separators read as "—".
MenuEntry read(const QDBusArgument& node) {
    MenuEntry entry;
    QVariantMap properties;
    node.beginStructure();
    node >> entry.id >> properties;
    node.beginArray();
    while (!node.atEnd()) {
        QDBusVariant child;
        node >> child;
        entry.children.push_back(read(child.variant().value<QDBusArgument>()));
    }
    node.endArray();
    node.endStructure();
    entry.label = properties.value("type") == "separator" ? "—" : properties.value("label").toString();
    entry.enabled = properties.value("enabled", true).toBool();
    QList<QStringList> chords;
    if (properties.contains("shortcut")) {
        properties.value("shortcut").value<QDBusArgument>() >> chords;
    }
    entry.shortcut = chords.value(0).join('+');
    return entry;
}

class TrayTest : public ::testing::Test {
protected:
    static StatusNotifierWatcher* watcher;

    static void SetUpTestSuite() {
        watcher = new StatusNotifierWatcher;
        ASSERT_TRUE(watcher->publish()) << "another StatusNotifierWatcher owns this bus";
    }

    void SetUp() override {
        // A user who has seen the settings window once: start-up shows the tray item only.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/KavrelCompanion";
        ASSERT_TRUE(QDir().mkpath(config));
        QFile preferences(config + "/preferences.json");
        ASSERT_TRUE(preferences.open(QIODevice::WriteOnly | QIODevice::Truncate));
        preferences.write(R"({"openedSettings":true})");
        preferences.close();

        const QString program = qEnvironmentVariable("KAVREL_COMPANION", KAVREL_COMPANION_PATH);
        companion.setProgram(program);
        companion.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        companion.start();
        ASSERT_TRUE(companion.waitForStarted(boundMs)) << program.toStdString();
        ASSERT_TRUE(eventually([] { return !watcher->items().isEmpty(); })) << "no item registered";
        ASSERT_EQ(watcher->items().size(), 1);
        service = watcher->items().front();
    }

    void TearDown() override {
        if (companion.state() != QProcess::NotRunning) {
            companion.terminate();
            companion.waitForFinished(boundMs);
        }
        watcher->forget();
    }

    QVariant itemProperty(const QString& name) {
        auto get = QDBusMessage::createMethodCall(service, "/StatusNotifierItem",
                                                  "org.freedesktop.DBus.Properties", "Get");
        get << QStringLiteral("org.kde.StatusNotifierItem") << name;
        const auto reply = call(get);
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    QDBusMessage menuCall(const QString& method) {
        const auto path = itemProperty("Menu").value<QDBusObjectPath>().path();
        return QDBusMessage::createMethodCall(service, path, "com.canonical.dbusmenu", method);
    }

    std::vector<MenuEntry> menu() {
        auto layout = menuCall("GetLayout");
        layout << 0 << -1 << QStringList{};
        const auto reply = call(layout);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            return {};
        }
        return read(reply.arguments().value(1).value<QDBusArgument>()).children;
    }

    QString statusLine() {
        const auto entries = menu();
        return entries.empty() ? QString() : entries.front().label;
    }

    void click(const QString& label) {
        const auto entries = menu();
        const auto found = std::find_if(entries.begin(), entries.end(),
                                        [&](const MenuEntry& entry) { return entry.label == label; });
        ASSERT_NE(found, entries.end()) << label.toStdString();
        auto event = menuCall("Event");
        event << found->id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0))
              << static_cast<uint>(0);
        ASSERT_EQ(call(event).type(), QDBusMessage::ReplyMessage);
    }

    QProcess companion;
    QString service;
};

StatusNotifierWatcher* TrayTest::watcher = nullptr;

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

// The children of a process that run the connector.
QStringList connectorsOf(qint64 parent) {
    QStringList found;
    for (const auto& child : readAll(QStringLiteral("/proc/%1/task/%1/children").arg(parent)).split(' ')) {
        if (readAll("/proc/" + child + "/comm") == "kavrel-roon") {
            found << child;
        }
    }
    return found;
}

// Reaped, or left a zombie by a parent that is gone itself.
bool ended(const QString& pid) {
    const QString stat = readAll("/proc/" + pid + "/stat");
    return stat.isEmpty() || stat.contains(") Z ");
}

TEST_F(TrayTest, ItemShowsTheCompanionsTitleIconAndTooltip) {
    EXPECT_EQ(itemProperty("Title").toString(), expected::trayTitle);
    // A panel hides passive items.
    EXPECT_EQ(itemProperty("Status").toString(), "Active");

    // The heart, whichever way the icon travels: pixmaps (ARGB32, network order) or a named file.
    QList<Pixmap> pixmaps;
    itemProperty("IconPixmap").value<QDBusArgument>() >> pixmaps;
    QImage icon;
    if (!pixmaps.isEmpty()) {
        const auto& largest = *std::max_element(
            pixmaps.begin(), pixmaps.end(), [](const auto& a, const auto& b) { return a.width < b.width; });
        icon = QImage(largest.width, largest.height, QImage::Format_ARGB32);
        for (int i = 0; i < largest.width * largest.height && 4 * i + 3 < largest.argb.size(); ++i) {
            const auto* p = reinterpret_cast<const uchar*>(largest.argb.constData()) + 4 * i;
            icon.setPixel(i % largest.width, i / largest.width, qRgba(p[1], p[2], p[3], p[0]));
        }
    } else {
        icon.load(
            QDir(itemProperty("IconThemePath").toString()).filePath(itemProperty("IconName").toString()));
    }
    ASSERT_FALSE(icon.isNull()) << "neither IconPixmap nor a loadable IconName";
    const QColor centre = icon.pixelColor(icon.width() / 2, icon.height() / 2);
    EXPECT_GT(centre.alpha(), 200);
    EXPECT_GT(centre.red(), 180);
    EXPECT_LT(centre.green(), 100);
    EXPECT_LT(centre.blue(), 120);

    // (icon name, pixmaps, title, text)
    const auto toolTip = itemProperty("ToolTip").value<QDBusArgument>();
    QString iconName;
    QString title;
    toolTip.beginStructure();
    toolTip >> iconName >> pixmaps >> title;
    toolTip.endStructure();
    EXPECT_EQ(title, expected::trayTitle);
}

TEST_F(TrayTest, MenuListsItsEntriesInOrderAndTheStatusLineFollowsTheConnector) {
    ASSERT_TRUE(eventually([&] { return statusLine() == expected::helperReady; }))
        << statusLine().toStdString();

    const auto entries = menu();
    QStringList labels;
    QStringList disabled;
    for (const auto& entry : entries) {
        labels << entry.label;
        if (!entry.enabled) {
            disabled << entry.label;
        }
    }
    EXPECT_EQ(labels,
              (QStringList{expected::helperReady, "—", expected::menuAbout, expected::menuSettings,
                           expected::menuOpenKavrel, expected::menuCheckForUpdates, expected::menuReconnect,
                           expected::menuPauseConnector, "—", expected::quit}));
    EXPECT_EQ(disabled, QStringList{expected::helperReady});
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries[3].shortcut, "Control+,");
    EXPECT_EQ(entries[9].shortcut, "Control+Q");
}

TEST_F(TrayTest, SettingsEntryShowsTheSettingsWindow) {
    ASSERT_TRUE(eventually([&] { return statusLine() == expected::helperReady; }));
    EXPECT_FALSE(settingsWindowShown());

    click(expected::menuSettings);
    EXPECT_TRUE(eventually(settingsWindowShown));
}

TEST_F(TrayTest, QuitEntryEndsTheCompanionAndItsConnector) {
    ASSERT_TRUE(eventually([&] { return statusLine() == expected::helperReady; }));
    const auto connectors = connectorsOf(companion.processId());
    ASSERT_EQ(connectors.size(), 1);

    click(expected::quit);
    ASSERT_TRUE(eventually([&] { return companion.state() == QProcess::NotRunning; }));
    EXPECT_EQ(companion.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(companion.exitCode(), 0);
    EXPECT_TRUE(eventually([&] { return ended(connectors.front()); }));
}

} // namespace
} // namespace kavrel

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
