// The settings window bound to a model with a fake connector: what it shows, what it enables, what its
// controls send, and how it reads to the keyboard. What a screen reader hears of it is read through AT-SPI
// by app/screen-reader-names.sh.

#include "CompanionCore/runtime/LoginItem.hpp"
#include "CompanionCore/runtime/Workspace.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
#include "KavrelCompanion/TrayPresence.hpp"
#include "model/ModelHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QVariant>

#include <initializer_list>
#include <tuple>

namespace kavrel {
namespace {

// The login item and the browser.
struct FakeDesktop final : LoginItem, Workspace {
    bool isEnabled() const override { return atLogin; }
    void setEnabled(bool on) override {
        if (refusing) {
            throw LoginItemError("refused");
        }
        atLogin = on;
    }
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    bool atLogin = false, refusing = false;
    std::vector<std::string> opened;
};

class SettingsViewTest : public ModelTest {
protected:
    // The element of that name, or an empty object (and a failure) when there is none.
    QObject* find(const QString& name, QObject* within = nullptr) {
        auto* found = (within ? within : window->window())->findChild<QObject*>(name);
        EXPECT_NE(found, nullptr) << "no element " << name.toStdString();
        return found ? found : &missing;
    }
    // Each row: element, property, the value it must hold.
    void expectAll(std::initializer_list<std::tuple<const char*, const char*, QVariant>> rows) {
        for (const auto& [element, property, value] : rows) {
            EXPECT_EQ(find(element)->property(property), value) << element << "." << property;
        }
    }
    // Those of `names` that are shown and enabled.
    QStringList usable(QStringList names) {
        names.removeIf([this](const QString& name) {
            return !find(name)->property("visible").toBool() || !find(name)->property("enabled").toBool();
        });
        return names;
    }
    // Each action is followed by everything it sets off, the writes to the connector included.
    void click(const char* name) {
        QMetaObject::invokeMethod(find(name), "clicked");
        settle();
    }
    // What the user changes, and the signal the change sends.
    void edit(const char* name, const char* property, const QVariant& value, const char* signal) {
        find(name)->setProperty(property, value);
        QMetaObject::invokeMethod(find(name), signal);
        settle();
    }
    void toggle(const char* name) {
        edit(name, "checked", !find(name)->property("checked").toBool(), "toggled");
    }
    void type(const char* name, const QString& typed) { edit(name, "text", typed, "textEdited"); }
    // Keys as the keyboard delivers them, shortcuts included, to whatever has the focus.
    void press(const QKeySequence& keys) {
        QTest::keySequence(window->window(), keys);
        settle();
    }
    // The focused control, marked when it does not lie wholly inside the window (below its visible part).
    QString focused() const {
        const auto* item = window->window()->activeFocusItem();
        const QRectF area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
        const bool inSight = area.top() >= 0 && area.bottom() <= window->window()->height();
        return item->objectName() + (inSight ? "" : " (out of sight)");
    }

    FakeDesktop desktop;
    bool trayShown = true;
    TrayPresence tray = TrayPresence(loop, [this] { return trayShown; });
    std::unique_ptr<SettingsWindow> window;
    QObject missing;
};

// The window from the start of the connector until its status arrives.
TEST_F(SettingsViewTest, TheWindowFromTheConnectorsStartToItsStatus) {
    desktop.atLogin = true;
    makeModel();
    int quits = 0;
    window = std::make_unique<SettingsWindow>(
        *model, SettingsWindow::Desktop{desktop, desktop, tray, std::function<void()>([&] { ++quits; })});
    window->show();
    QCoreApplication::processEvents();
    // Before the connector answers only Reconnect and Open stay enabled and the lines without a text are
    // hidden; the texts name this computer as Linux does.
    EXPECT_EQ(window->window()->title(), expected::settingsWindowTitle);
    // The screen is 400 logical pixels high: the window keeps its width and gives way in height.
    EXPECT_EQ(window->window()->size(), QSize(560, 400));
    expectAll({{"helperReady", "text", "Local helper: unavailable"},
               {"helperMessage", "text", expected::helperStarting},
               {"pairingHelp", "text", expected::pairingHelp},
               {"musicGroup", "title", expected::musicGroup},
               {"musicSwitch", "text", expected::musicSwitch},
               {"musicExplanation", "text", expected::musicExplanation},
               {"computerGroup", "title", expected::computerGroup},
               {"closing", "text", expected::closingWithTray},
               {"platformLine", "text", expected::platformLine}});
    EXPECT_EQ(usable({"reconnect", "openKavrel", "findRoon", "saveAndConnect", "pair", "replacePairing",
                      "resetRoon", "paired", "cloud", "checkConnection", "running", "notice", "loginNotice",
                      "quitKavrel"}),
              (QStringList{"reconnect", "openKavrel"}));

    // Without a tray the window offers Quit, following the panel (asked every 2 s) as it goes and comes back.
    trayShown = false;
    loop.advance(std::chrono::seconds(2));
    expectAll({{"closing", "text", expected::closingWithoutTray}, {"quitKavrel", "text", expected::quit}});
    click("quitKavrel");
    EXPECT_EQ(quits, 1);
    trayShown = true;
    loop.advance(std::chrono::seconds(2));
    EXPECT_EQ(usable({"quitKavrel"}), QStringList());

    // The login switch shows the real state, and the failure text while a change is refused.
    desktop.refusing = true;
    toggle("loginSwitch");
    expectAll({{"loginSwitch", "checked", true}, {"loginNotice", "text", expected::loginItemFailed}});
    desktop.refusing = false;
    toggle("loginSwitch");
    expectAll({{"loginSwitch", "checked", false}, {"loginNotice", "visible", false}});

    // Tab reaches every enabled control, scrolling it into sight, and Shift-Tab goes back.
    for (const char* control : {"originField", "roonSwitch", "roonHostField", "reconnect", "openKavrel",
                                "pairingField", "musicSwitch", "loginSwitch"}) {
        press(Qt::Key_Tab);
        EXPECT_EQ(focused(), control);
    }
    press(Qt::Key_Space);
    EXPECT_TRUE(desktop.atLogin);
    for (int back = 0; back < 7; ++back) {
        press(Qt::ShiftModifier | Qt::Key_Tab);
    }
    EXPECT_EQ(focused(), "originField");

    // Once the connector is up: the busy model locks the switches.
    ready();
    const QStringList locked{"roonSwitch", "musicSwitch", "saveAndConnect"};
    EXPECT_EQ(usable(locked), QStringList()); // the configure sent on ready is unanswered
    answer("configure", okPayload());
    EXPECT_EQ(usable(locked), locked);

    // Fields edit the model; Open Kavrel opens only a valid origin; only a dialog's confirming button sends.
    type("originField", "https://mine.example");
    model->roonHost().set("core:9330");
    expectAll(
        {{"roonHostField", "text", "core:9330"}, {"pair", "enabled", false}, {"resetRoon", "enabled", true}});
    type("pairingField", "   ");
    expectAll({{"pair", "enabled", true}}); // spaces are a code to the window; the model decides
    click("openKavrel");
    type("originField", "http://mine.example");
    click("openKavrel");
    EXPECT_EQ(desktop.opened, std::vector<std::string>{"https://mine.example"});

    for (const auto& [opener, name, sent, confirm] :
         {std::tuple{"replacePairing", "replaceConfirmation", "pair", "Replace pairing"},
          {"resetRoon", "resetConfirmation", "resetRoon", "Reset"}}) {
        SCOPED_TRACE(name);
        QObject* dialog = find(name);
        EXPECT_EQ(find("cancel", dialog)->property("text"), "Cancel");
        EXPECT_EQ(find("confirm", dialog)->property("text"), confirm);
        // Escape closes it unsent, Enter presses the focused button (Cancel at first), Tab moves to the
        // other.
        for (const auto& [keys, sends] : {std::pair{QKeySequence(Qt::Key_Escape), 0},
                                          {QKeySequence(Qt::Key_Return), 0},
                                          {QKeySequence(Qt::Key_Tab, Qt::Key_Return), 1}}) {
            type("pairingField", "654321"); // a successful pairing empties the field
            click(opener);
            press(keys);
            EXPECT_FALSE(dialog->property("visible").toBool());
            EXPECT_EQ(countSent(sent), sends);
        }
        answer(sent, okPayload());
    }
    EXPECT_EQ(lastSent("pair").payload, (JSONObject{{"code", "654321"}, {"replace", true}}));

    // The status lines follow the types of the status members, and each switch hides its section.
    child().writeOutput(Envelope("s1", "status",
                                 {{"paired", "true"},
                                  {"running", false},
                                  {"cloud", JSONObject{{"code", "legal_acceptance_required"}}}})
                            .encodedLine());
    settle();
    expectAll({{"helperReady", "text", "Local helper: ready"},
               {"paired", "visible", false},
               {"running", "text", "Connector: paused"},
               {"cloud", "text", expected::cloudTerms}});
    click("checkConnection");
    EXPECT_EQ(sentTypes().back(), "retryCloud");

    child().writeOutput(
        Envelope("s2", "status", {{"paired", true}, {"cloud", JSONObject{{"code", "authorization_invalid"}}}})
            .encodedLine());
    settle();
    expectAll({{"paired", "text", "Cloud: paired"},
               {"checkConnection", "visible", false},
               {"running", "visible", false}});

    toggle("roonSwitch");
    EXPECT_EQ(usable({"roonHostField", "findRoon", "roonDiscovery"}), QStringList());
    answer("configure", okPayload());

    const QStringList music{"musicState",           "allowMusic", "copyDiagnostics",
                            "connectionMusicState", "scrobbling", "musicPairingHint"};
    EXPECT_EQ(usable(music), QStringList());
    toggle("musicSwitch");
    EXPECT_EQ(usable(music), music);
    expectAll({{"musicState", "text", expected::waitingForMusic},
               {"musicPairingHint", "text", expected::musicPairingHint}});
}

} // namespace
} // namespace kavrel

// The interface tests share one application object, on the offscreen platform with one screen: a
// 1280×800 laptop at a 192-dpi setting, so 640×400 logical pixels, lower than the settings window.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen:configfile=" KAVREL_SHELL_SCREEN, 1);
    ::setenv("QT_QUICK_CONTROLS_STYLE", "Basic", 1);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
