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

#include <initializer_list>
#include <tuple>

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
    // Each row: element, property, the value it must hold.
    void expectAll(std::initializer_list<std::tuple<const char*, const char*, QVariant>> rows) const {
        for (const auto& [element, property, value] : rows) {
            EXPECT_EQ(find(element)->property(property), value) << element << "." << property;
        }
    }
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

// Before the connector answers only Reconnect and Open stay enabled; the texts name this computer as
// Linux does; without a tray the window offers Quit, following the panel as it goes and comes back.
TEST_F(SettingsViewTest, UnconnectedWindowItsWordingAndItsQuitButton) {
    open();
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
               {"platformLine", "text", expected::platformLine},
               {"quitKavrel", "visible", false},
               {"reconnect", "enabled", true},
               {"openKavrel", "enabled", true}});
    for (const char* control : {"findRoon", "saveAndConnect", "pair", "replacePairing", "resetRoon"}) {
        EXPECT_FALSE(enabled(control)) << control;
    }
    for (const char* line : {"paired", "cloud", "checkConnection", "running", "notice", "loginNotice"}) {
        EXPECT_FALSE(shown(line)) << line;
    }
    toggle("musicSwitch");
    EXPECT_EQ(text("musicPairingHint"), expected::musicPairingHint);

    trayShown = false;
    loop.advance(TrayPresence::interval);
    expectAll({{"closing", "text", expected::closingWithoutTray}, {"quitKavrel", "text", expected::quit}});
    click("quitKavrel");
    EXPECT_EQ(quits, 1);
    trayShown = true;
    loop.advance(TrayPresence::interval);
    EXPECT_FALSE(shown("quitKavrel"));

    // The login switch shows the real state, and the failure text while a change is refused.
    toggle("loginSwitch");
    EXPECT_TRUE(loginItem.enabled);
    loginItem.failing = true;
    toggle("loginSwitch");
    expectAll({{"loginSwitch", "checked", true}, {"loginNotice", "text", expected::loginItemFailed}});
    loginItem.failing = false;
    toggle("loginSwitch");
    expectAll({{"loginSwitch", "checked", false}, {"loginNotice", "visible", false}});
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
    expectAll({{"paired", "visible", false},
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

    for (const bool on : {false, true}) {
        for (const char* element : {"musicState", "allowMusic", "copyDiagnostics", "connectionMusicState",
                                    "scrobbling", "musicPairingHint"}) {
            EXPECT_EQ(shown(element), on) << element;
        }
        if (!on) {
            toggle("musicSwitch");
        }
    }
    EXPECT_TRUE(model->appleMusicEnabled().value());
    EXPECT_EQ(text("musicState"), expected::waitingForMusic);
}

// Fields edit the model; Open Kavrel opens only a valid origin. Each confirmation, by mouse and by keyboard:
// Cancel and Escape send nothing, Enter presses the focused button (Cancel at first), and only the
// confirming button sends.
TEST_F(SettingsViewTest, FieldsAndConfirmationsSendOnlyWhatIsValidAndConfirmed) {
    ready();
    answer("configure", okPayload());
    open();
    type("originField", "https://mine.example");
    EXPECT_EQ(model->bridgeOrigin().value(), "https://mine.example");
    model->roonHost().set("core:9330");
    expectAll(
        {{"roonHostField", "text", "core:9330"}, {"pair", "enabled", false}, {"resetRoon", "enabled", true}});
    type("pairingField", "   ");
    EXPECT_TRUE(enabled("pair")); // spaces are a code to the window; the model decides
    click("openKavrel");
    type("originField", "http://mine.example");
    click("openKavrel");
    EXPECT_EQ(workspace.opened, std::vector<std::string>{"https://mine.example"});

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

// Tab reaches every enabled control and scrolls it into sight. What a screen reader hears: each control's
// name is what the eye reads, each text field says what it holds once its placeholder is gone, and each
// control belongs to its titled group.
TEST_F(SettingsViewTest, KeyboardAndScreenReadersReachEveryControl) {
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
