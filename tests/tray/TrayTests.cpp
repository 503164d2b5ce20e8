// The tray as a StatusNotifierItem panel sees it (Plasma, AppIndicator, XFCE, waybar): a test watcher on
// the session bus, the companion started as a user starts it, and everything read back over D-Bus alone.
// Runs inside in-private-session.sh; KAVREL_COMPANION names the program (default: this build's).

#include "support/ExpectedTexts.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtCore/qtestsupport_core.h>

#include <algorithm>
#include <fstream>

namespace kavrel {
namespace {

// The smallest org.kde.StatusNotifierWatcher a panel would run: items register with it, and it says that a
// host is there. Qt reads IsStatusNotifierHostRegistered through an interface built from the introspection
// data, so the property is exported (and introspected), not only answered.
class StatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }
    QStringList items;

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { items << service; }
};

// How long a step may take, before the test gives up on it.
constexpr int boundMs = 30000;

// Answers the companion's own calls to the watcher while waiting, or both sides would wait for each other.
QVariant call(const QString& service, const QString& path, const QString& interface, const QString& method,
              const QVariantList& arguments, int index = 0) {
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, boundMs).arguments().value(index);
}

// The top level of a (ia{sv}av) layout: each entry's id, and its label ("—" for a separator) with " (off)"
// when disabled and " [shortcut]".
std::pair<QList<int>, QStringList> entries(const QDBusArgument& root) {
    std::pair<QList<int>, QStringList> found;
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        const auto node = qdbus_cast<QDBusVariant>(root).variant().value<QDBusArgument>();
        node.beginStructure();
        node >> id >> properties;
        QList<QStringList> chords;
        if (properties.contains("shortcut")) {
            properties.value("shortcut").value<QDBusArgument>() >> chords;
        }
        found.first << id;
        found.second << (properties.value("type") == "separator" ? "—"
                                                                 : properties.value("label").toString()) +
                            (properties.value("enabled", true).toBool() ? "" : " (off)") +
                            (chords.isEmpty() ? "" : " [" + chords[0].join('+') + "]");
    }
    return found;
}

struct Pixmap { // (iiay)
    int width = 0, height = 0;
    QByteArray argb;
};

const QDBusArgument& operator>>(const QDBusArgument& in, Pixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}

bool settingsWindowShown() {
    const QString title = QStringLiteral("^%1$").arg(expected::settingsWindowTitle);
    return QProcess::execute("xdotool", {"search", "--onlyvisible", "--name", title}) == 0;
}

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

TEST(TrayTest, TheItemShowsTheCompanionAndItsMenuWorks) {
    StatusNotifierWatcher watcher;
    auto bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerObject("/StatusNotifierWatcher", &watcher,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
                bus.registerService("org.kde.StatusNotifierWatcher"))
        << "another StatusNotifierWatcher owns this bus";
    // A user who has seen the settings window once: start-up shows the tray item only.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/KavrelCompanion";
    ASSERT_TRUE(QDir().mkpath(config));
    std::ofstream((config + "/preferences.json").toStdString()) << R"({"openedSettings":true})";
    QProcess companion;
    companion.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    companion.start(qEnvironmentVariable("KAVREL_COMPANION", KAVREL_COMPANION_PATH), {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items.isEmpty(); }, boundMs)) << "no item registered";
    ASSERT_EQ(watcher.items.size(), 1);
    const QString service = watcher.items.front();
    const auto item = [&](const QString& name) {
        return call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                    {"org.kde.StatusNotifierItem", name})
            .value<QDBusVariant>()
            .variant();
    };
    EXPECT_EQ(item("Title").toString(), expected::trayTitle);
    EXPECT_EQ(item("Status").toString(), "Active"); // a panel hides passive items

    // The red heart: the centre of the largest pixmap (ARGB32, network order).
    QList<Pixmap> pixmaps;
    item("IconPixmap").value<QDBusArgument>() >> pixmaps;
    ASSERT_FALSE(pixmaps.isEmpty());
    const auto& [width, height, argb] = *std::ranges::max_element(pixmaps, {}, &Pixmap::width);
    ASSERT_EQ(argb.size(), 4 * width * height);
    const QByteArray centre = argb.mid(4 * (height / 2 * width + width / 2), 4);
    EXPECT_TRUE(uchar(centre[0]) > 200 && uchar(centre[1]) > 180 && uchar(centre[2]) < 100 &&
                uchar(centre[3]) < 120)
        << "centre " << centre.toHex().toStdString();
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu().second.value(0) == ready; }, boundMs));
    const auto [ids, texts] = menu();
    ASSERT_EQ(
        texts,
        (QStringList{ready, "—", expected::menuAbout, expected::menuSettings + QStringLiteral(" [Control+,]"),
                     expected::menuOpenKavrel, expected::menuCheckForUpdates, expected::menuReconnect,
                     expected::menuPauseConnector, "—", expected::quit + QStringLiteral(" [Control+Q]")}));
    const auto click = [&, itemIds = ids](int index) {
        call(service, menuPath, "com.canonical.dbusmenu", "Event",
             {itemIds[index], "clicked", QVariant::fromValue(QDBusVariant(0)), 0U});
    };

    EXPECT_FALSE(settingsWindowShown());
    click(3);
    EXPECT_TRUE(QTest::qWaitFor(settingsWindowShown, boundMs));

    // Quit ends the companion and its only child, the connector (reaped, or a zombie of a gone parent).
    const QString connector =
        "/proc/" + readAll(QStringLiteral("/proc/%1/task/%1/children").arg(companion.processId()));
    ASSERT_EQ(readAll(connector + "/comm"), "kavrel-roon");
    click(9);
    ASSERT_TRUE(QTest::qWaitFor([&] { return companion.state() == QProcess::NotRunning; }, boundMs));
    EXPECT_EQ(std::pair(companion.exitStatus(), companion.exitCode()), std::pair(QProcess::NormalExit, 0));
    const auto ended = [&] {
        const QString stat = readAll(connector + "/stat");
        return stat.isEmpty() || stat.contains(") Z ");
    };
    EXPECT_TRUE(QTest::qWaitFor(ended, boundMs));
}

} // namespace
} // namespace kavrel

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "TrayTests.moc"
