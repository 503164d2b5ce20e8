// The settings window bound to a model with a fake connector: what it shows, what it enables and
// what its controls send.

#include "CompanionCore/runtime/LoginItem.hpp"
#include "CompanionCore/runtime/Workspace.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
#include "model/ModelHarness.hpp"

#include <QCoreApplication>
#include <QQuickItem>
#include <QQuickWindow>
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
        window = std::make_unique<SettingsWindow>(*model, loginItem, workspace);
        window->show();
        QCoreApplication::processEvents();
    }

    QObject* find(const char* name) const {
        auto* found = window->window()->findChild<QObject*>(name);
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
    void click(const char* name) {
        QMetaObject::invokeMethod(find(name), "clicked");
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

    RecordingWorkspace workspace;
    SwitchableLoginItem loginItem;
    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsViewTest, WithoutTheConnectorOnlyReconnectAndOpenStayEnabled) {
    open();
    EXPECT_EQ(window->window()->title(), "Kavrel Companion");
    EXPECT_EQ(window->window()->size(), QSize(560, 620));
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
    EXPECT_TRUE(shown("checkConnection"));
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
    EXPECT_FALSE(enabled("roonSwitch"));
    EXPECT_FALSE(enabled("musicSwitch"));
    EXPECT_FALSE(enabled("saveAndConnect"));
    answer("configure", okPayload());
    EXPECT_TRUE(enabled("saveAndConnect"));

    EXPECT_TRUE(shown("roonHostField"));
    toggle("roonSwitch");
    EXPECT_FALSE(model->roonEnabled().value());
    EXPECT_FALSE(shown("roonHostField"));
    EXPECT_FALSE(shown("findRoon"));
    EXPECT_FALSE(shown("roonDiscovery"));
    answer("configure", okPayload());

    for (const char* element :
         {"musicState", "allowMusic", "copyDiagnostics", "connectionMusicState", "scrobbling"}) {
        EXPECT_FALSE(shown(element)) << element;
    }
    toggle("musicSwitch");
    EXPECT_TRUE(model->appleMusicEnabled().value());
    EXPECT_EQ(text("musicState"), "Waiting for Music");
    EXPECT_TRUE(shown("copyDiagnostics"));
    EXPECT_EQ(text("scrobbling"), "Enable Apple Music scrobbling in Kavrel Settings.");
}

TEST_F(SettingsViewTest, FieldsEditTheModelAndPairingNeedsACodeAndAConfirmation) {
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
    type("pairingField", "654321");
    click("replacePairing");
    EXPECT_TRUE(find("replaceConfirmation")->property("opened").toBool() ||
                find("replaceConfirmation")->property("visible").toBool());
    EXPECT_EQ(countSent("pair"), 0);
    click("confirmReplace");
    EXPECT_EQ(lastSent("pair").payload, (JSONObject{{"code", "654321"}, {"replace", true}}));
    EXPECT_EQ(text("pairingField"), "");

    click("openKavrel");
    ASSERT_EQ(workspace.opened.size(), 1u);
    EXPECT_EQ(workspace.opened[0], "https://mine.example");
    type("originField", "http://mine.example");
    click("openKavrel");
    EXPECT_EQ(workspace.opened.size(), 1u);
}

TEST_F(SettingsViewTest, TheLoginSwitchShowsTheRealStateAndTheFailureText) {
    open();
    toggle("loginSwitch");
    EXPECT_TRUE(loginItem.enabled);
    EXPECT_TRUE(find("loginSwitch")->property("checked").toBool());
    loginItem.failing = true;
    toggle("loginSwitch");
    EXPECT_TRUE(find("loginSwitch")->property("checked").toBool());
    EXPECT_EQ(text("loginNotice"),
              "Couldn’t change the login item. Move the app to Applications and try again.");
    loginItem.failing = false;
    toggle("loginSwitch");
    EXPECT_FALSE(find("loginSwitch")->property("checked").toBool());
    EXPECT_FALSE(shown("loginNotice"));
}

} // namespace
} // namespace kavrel
