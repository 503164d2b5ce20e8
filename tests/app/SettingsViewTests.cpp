// The settings window bound to a model with a fake connector: what it shows, what it enables, what its
// controls send, and how it reads to the keyboard and to a screen reader.

#include "CompanionCore/runtime/LoginItem.hpp"
#include "CompanionCore/runtime/Workspace.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
#include "KavrelCompanion/TrayPresence.hpp"
#include "model/ModelHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <QAccessible>
#include <QCoreApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QVariant>

namespace kavrel {
namespace {

class RecordingWorkspace final : public Workspace {
public:
    bool open(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<std::string> opened;
};

class SwitchableLoginItem final : public LoginItem {
public:
    bool isEnabled() const override { return enabled; }
    void setEnabled(bool on) override {
        if (failing) {
            throw LoginItemError("refused");
        }
        enabled = on;
    }
    bool enabled = false;
    bool failing = false;
};

class SettingsViewTest : public ModelTest {
protected:
    void open() {
        if (!model) {
            makeModel();
        }
        const auto quit = [this] {
            ++quits;
        };
        window = std::make_unique<SettingsWindow>(*model,
                                                  SettingsWindow::Desktop{loginItem, workspace, tray, quit});
        window->show();
        QCoreApplication::processEvents();
    }

    QObject* find(const char* name, QObject* within = nullptr) const {
        auto* found = (within ? within : window->window())->findChild<QObject*>(name);
        if (!found) {
            ADD_FAILURE() << "no element " << name;
            static QObject none;
            return &none;
        }
        return found;
    }
    QString text(const char* name) const { return find(name)->property("text").toString(); }
    bool shown(const char* name) const { return find(name)->property("visible").toBool(); }
    bool enabled(const char* name) const { return find(name)->property("enabled").toBool(); }
    // Each action is followed by everything it sets off, the writes to the connector included.
    void click(const char* name, QObject* within = nullptr) {
        QMetaObject::invokeMethod(find(name, within), "clicked");
        settle();
    }
    void toggle(const char* name) {
        auto* control = find(name);
        control->setProperty("checked", !control->property("checked").toBool());
        QMetaObject::invokeMethod(control, "toggled");
        settle();
    }
    void type(const char* name, const QString& typed) {
        auto* field = find(name);
        field->setProperty("text", typed);
        QMetaObject::invokeMethod(field, "textEdited");
        settle();
    }
    // A key as the keyboard delivers it, shortcuts included, to whatever has the focus.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window->window(), key, modifiers);
        settle();
    }
    QString focused() const { return window->window()->activeFocusItem()->objectName(); }
    // The focused control lies wholly inside the window, not below its visible part.
    bool focusInSight() const {
        const auto* item = window->window()->activeFocusItem();
        const QRectF area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
        return area.top() >= 0 && area.bottom() <= window->window()->height();
    }

    RecordingWorkspace workspace;
    SwitchableLoginItem loginItem;
    bool trayShown = true;
    TrayPresence tray = TrayPresence(loop, [this] { return trayShown; });
    int quits = 0;
    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsViewTest, WithoutTheConnectorOnlyReconnectAndOpenStayEnabled) {
    open();
    EXPECT_EQ(window->window()->title(), "Kavrel Companion");
    // The screen is 400 logical pixels high: the window keeps its width and gives way in height.
    EXPECT_EQ(window->window()->size(), QSize(560, 400));
    EXPECT_EQ(text("helperReady"), "Local helper: unavailable");
    EXPECT_EQ(text("helperMessage"), "Starting companion…");
    for (const char* control : {"findRoon", "saveAndConnect", "pair", "replacePairing", "resetRoon"}) {
        EXPECT_FALSE(enabled(control)) << control;
    }
    EXPECT_TRUE(enabled("reconnect"));
    EXPECT_TRUE(enabled("openKavrel"));
    for (const char* line : {"paired", "cloud", "checkConnection", "running", "notice", "loginNotice"}) {
        EXPECT_FALSE(shown(line)) << line;
    }
}

TEST_F(SettingsViewTest, StatusLinesFollowTheTypesOfTheStatusMembers) {
    ready();
    open();
    EXPECT_EQ(text("helperReady"), "Local helper: ready");
    child().writeOutput(Envelope("s1", "status",
                                 {{"paired", "true"},
                                  {"running", false},
                                  {"cloud", JSONObject{{"code", "legal_acceptance_required"}}}})
                            .encodedLine());
    settle();
    EXPECT_FALSE(shown("paired"));
    EXPECT_EQ(text("running"), "Connector: paused");
    EXPECT_EQ(text("cloud"),
              "Cloud uploads paused. Open Kavrel to accept updated terms, then check the connection.");
    click("checkConnection");
    EXPECT_EQ(sentTypes().back(), "retryCloud");

    child().writeOutput(
        Envelope("s2", "status", {{"paired", true}, {"cloud", JSONObject{{"code", "authorization_invalid"}}}})
            .encodedLine());
    settle();
    EXPECT_EQ(text("paired"), "Cloud: paired");
    EXPECT_FALSE(shown("checkConnection"));
    EXPECT_FALSE(shown("running"));
}

TEST_F(SettingsViewTest, SwitchesHideTheirSectionsAndTheBusyModelLocksThem) {
    ready();
    open();
    EXPECT_TRUE(model->busy().value()); // the configure sent on ready is unanswered
    for (const char* control : {"roonSwitch", "musicSwitch", "saveAndConnect"}) {
        EXPECT_FALSE(enabled(control)) << control;
    }
    answer("configure", okPayload());
    EXPECT_TRUE(enabled("saveAndConnect"));

    toggle("roonSwitch");
    EXPECT_FALSE(model->roonEnabled().value());
    for (const char* element : {"roonHostField", "findRoon", "roonDiscovery"}) {
        EXPECT_FALSE(shown(element)) << element;
    }
    answer("configure", okPayload());

    const char* musicElements[] = {"musicState",           "allowMusic", "copyDiagnostics",
                                   "connectionMusicState", "scrobbling", "musicPairingHint"};
    for (const char* element : musicElements) {
        EXPECT_FALSE(shown(element)) << element;
    }
    toggle("musicSwitch");
    EXPECT_TRUE(model->appleMusicEnabled().value());
    for (const char* element : musicElements) {
        EXPECT_TRUE(shown(element)) << element;
    }
    EXPECT_EQ(text("musicState"), "Waiting for Music");
}

TEST_F(SettingsViewTest, FieldsEditTheModelAndOpenKavrelOpensOnlyAValidOrigin) {
    ready();
    answer("configure", okPayload());
    open();
    type("originField", "https://mine.example");
    EXPECT_EQ(model->bridgeOrigin().value(), "https://mine.example");
    model->roonHost().set("core:9330");
    EXPECT_EQ(text("roonHostField"), "core:9330");

    EXPECT_FALSE(enabled("pair"));
    EXPECT_TRUE(enabled("resetRoon"));
    type("pairingField", "   ");
    EXPECT_TRUE(enabled("pair")); // spaces are a code to the window; the model decides

    click("openKavrel");
    type("originField", "http://mine.example");
    click("openKavrel");
    EXPECT_EQ(workspace.opened, std::vector<std::string>{"https://mine.example"});
}

// Each confirmation, by mouse and by keyboard: Cancel and Escape send nothing, Enter presses the
// focused button (Cancel at first), and only the confirming button sends.
TEST_F(SettingsViewTest, ConfirmationsSendOnlyWhenConfirmed) {
    ready();
    answer("configure", okPayload());
    open();
    for (const auto& [opener, name, sent] : {std::tuple{"replacePairing", "replaceConfirmation", "pair"},
                                             {"resetRoon", "resetConfirmation", "resetRoon"}}) {
        SCOPED_TRACE(name);
        QObject* dialog = find(name);
        // clang 14 cannot capture a structured binding, so `opener` is copied in.
        const auto openAndCheck = [&, opener = opener] {
            EXPECT_FALSE(dialog->property("visible").toBool()); // the last answer closed it
            type("pairingField", "654321");                     // a successful pairing empties the field
            click(opener);
            EXPECT_TRUE(dialog->property("visible").toBool());
        };
        openAndCheck();
        click("cancel", dialog);
        openAndCheck();
        press(Qt::Key_Escape);
        openAndCheck();
        press(Qt::Key_Return);
        EXPECT_EQ(countSent(sent), 0);
        openAndCheck();
        press(Qt::Key_Tab);
        press(Qt::Key_Return);
        EXPECT_EQ(countSent(sent), 1);
        answer(sent, okPayload());
        openAndCheck();
        click("confirm", dialog);
        EXPECT_EQ(countSent(sent), 2);
        answer(sent, okPayload());
    }
    EXPECT_EQ(lastSent("pair").payload, (JSONObject{{"code", "654321"}, {"replace", true}}));
}

TEST_F(SettingsViewTest, TheLoginSwitchShowsTheRealStateAndTheFailureText) {
    open();
    toggle("loginSwitch");
    EXPECT_TRUE(loginItem.enabled);
    loginItem.failing = true;
    toggle("loginSwitch");
    EXPECT_TRUE(find("loginSwitch")->property("checked").toBool());
    EXPECT_EQ(text("loginNotice"), expected::loginItemFailed);
    loginItem.failing = false;
    toggle("loginSwitch");
    EXPECT_FALSE(find("loginSwitch")->property("checked").toBool());
    EXPECT_FALSE(shown("loginNotice"));
}

TEST_F(SettingsViewTest, TextsNameThisComputerAndWithoutATrayTheWindowOffersQuit) {
    open();
    for (const auto& [element, property, wording] : {std::tuple{"pairingHelp", "text", expected::pairingHelp},
                                                     {"musicGroup", "title", expected::musicGroup},
                                                     {"musicSwitch", "text", expected::musicSwitch},
                                                     {"musicExplanation", "text", expected::musicExplanation},
                                                     {"computerGroup", "title", expected::computerGroup},
                                                     {"closing", "text", expected::closingWithTray},
                                                     {"platformLine", "text", expected::platformLine}}) {
        EXPECT_EQ(find(element)->property(property).toString(), QString(wording)) << element;
    }
    toggle("musicSwitch");
    EXPECT_EQ(text("musicPairingHint"), expected::musicPairingHint);
    EXPECT_FALSE(shown("quitKavrel"));

    // The panel goes away while the window is open, and comes back.
    trayShown = false;
    loop.advance(TrayPresence::interval);
    EXPECT_EQ(text("closing"), expected::closingWithoutTray);
    EXPECT_EQ(text("quitKavrel"), expected::quit);
    click("quitKavrel");
    EXPECT_EQ(quits, 1);
    trayShown = true;
    loop.advance(TrayPresence::interval);
    EXPECT_FALSE(shown("quitKavrel"));
}

TEST_F(SettingsViewTest, TabReachesEveryEnabledControlAndScrollsItIntoSight) {
    open();
    const QStringList order{"originField", "roonSwitch",   "roonHostField", "reconnect",
                            "openKavrel",  "pairingField", "musicSwitch",   "loginSwitch"};
    for (const QString& control : order) {
        press(Qt::Key_Tab);
        EXPECT_EQ(focused(), control);
        EXPECT_TRUE(focusInSight()) << control.toStdString();
    }
    press(Qt::Key_Space);
    EXPECT_TRUE(loginItem.enabled);
    for (int back = 0; back < 7; ++back) {
        press(Qt::Key_Tab, Qt::ShiftModifier);
    }
    EXPECT_EQ(focused(), "originField");
    EXPECT_TRUE(focusInSight());
}

// What a screen reader hears: each control's name is what the eye reads, each text field says what it
// holds once its placeholder is gone, and each control belongs to its titled group.
TEST_F(SettingsViewTest, ScreenReadersHearTheVisibleNamesWithinTheirGroups) {
    open();
    QAccessible::setActive(true); // tells the controls; the offscreen platform has no screen reader
    type("originField", "https://mine.example");
    for (const auto& [element, name, group] : {std::tuple{"originField", "Kavrel HTTPS origin", "Connection"},
                                               {"roonHostField", "Roon host:port", "Connection"},
                                               {"saveAndConnect", "Save & connect", "Connection"},
                                               {"pairingField", "One-use pairing code", "Pair with Kavrel"},
                                               {"replacePairing", "Replace pairing…", "Pair with Kavrel"},
                                               {"musicSwitch", expected::musicSwitch, expected::musicGroup},
                                               {"loginSwitch", "Start at login", expected::computerGroup}}) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(find(element));
        ASSERT_NE(control, nullptr) << element;
        EXPECT_EQ(control->text(QAccessible::Name), QString(name)) << element;
        QAccessibleInterface* around = control->parent();
        while (around && around->role() != QAccessible::Grouping) {
            around = around->parent();
        }
        ASSERT_NE(around, nullptr) << element;
        EXPECT_EQ(around->text(QAccessible::Name), QString(group)) << element;
    }
}

} // namespace
} // namespace kavrel
