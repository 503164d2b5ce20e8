// Connect, pair, pause and reset against a fake connector: what is sent, what the user reads, and
// which late replies are dropped.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

std::string repeated(const std::string& piece, int times) {
    return times > 0 ? piece + repeated(piece, times - 1) : "";
}

TEST_F(ModelTest, PreferencesKeepTheirTypesAndConstructionSendsNothing) {
    ports.values = {{"roonEnabled", "no"}, {"roonHost", 7}};
    makeModel();
    EXPECT_TRUE(model->roonEnabled().value()); // only a stored Boolean turns the relay off
    EXPECT_FALSE(model->appleMusicEnabled().value());
    EXPECT_EQ(model->bridgeOrigin().value(), CompanionModel::defaultOrigin);
    EXPECT_EQ(model->roonHost().value(), "");
    ports.values = {
        {"roonEnabled", false}, {"appleMusicEnabled", true}, {"bridgeOrigin", "https://a.example/"}};
    makeModel();
    EXPECT_FALSE(model->roonEnabled().value());
    EXPECT_TRUE(model->appleMusicEnabled().value());
    EXPECT_EQ(model->bridgeOrigin().value(), "https://a.example/");
    flush();
    EXPECT_EQ(launcher.childCount(), 0u);
}

TEST_F(ModelTest, ConnectSendsTheSettingsAndStoresThemAsTypedOnlyOnceAccepted) {
    const std::string host = repeated("\u00E9", 256); // 512 bytes in UTF-8, 256 characters
    ports.values = {{"roonHost", "old:1"}};
    makeModel();
    model->bridgeOrigin().set("https://kavrel.example/");
    model->roonHost().set(host);
    ready();
    EXPECT_EQ(lastSent("configure").payload, (JSONObject{{"bridgeOrigin", "https://kavrel.example"},
                                                         {"roonHost", host},
                                                         {"appleMusicEnabled", false},
                                                         {"roonEnabled", true}}));
    EXPECT_TRUE(model->busy().value());
    // The second reply is neither a Boolean nor a text code.
    for (const auto& [reply, code] :
         {std::pair<JSONObject, std::string>{failurePayload("invalid_origin"), "invalid_origin"},
          {{{"ok", "true"}, {"code", 5}}, "failed"}}) {
        answer("configure", reply);
        EXPECT_EQ(model->notice().value(), HelperSupervisor::describe(code));
        EXPECT_EQ(ports.values.size(), 1u); // still only the old host
        model->connect();
        flush();
    }
    answer("configure", okPayload());
    EXPECT_FALSE(model->busy().value());
    EXPECT_EQ(ports.values.at("bridgeOrigin"), JSONValue("https://kavrel.example/"));
    EXPECT_EQ(ports.values.at("roonHost"), JSONValue(host));
    answer("start", failurePayload("pairing_required"));
    EXPECT_EQ(model->notice().value(), expected::startFailed);
    EXPECT_EQ(sentTypes().back(), "status");

    const auto before = sent().size();
    for (const auto& [origin, roonHost] :
         {std::pair<std::string, std::string>{"https://kavrel.example", host + "h"},
          {"https://kavrel.example/path", ""}}) {
        model->bridgeOrigin().set(origin);
        model->roonHost().set(roonHost);
        model->notice().set("");
        model->connect();
        EXPECT_EQ(model->notice().value(), expected::originRefused) << origin;
    }
    flush();
    EXPECT_EQ(sent().size(), before);
    EXPECT_FALSE(model->busy().value());
}

TEST_F(ModelTest, PairingMeasuresBytesBeforeTrimmingTrimsUnicodeSpaceAndUsesTheCodeOnce) {
    ready();
    answer("configure", failurePayload("failed"));
    model->notice().set("");
    const auto before = sent().size();
    for (const auto& [code, notice] : {std::pair<std::string, std::string>{" \u00A0\u3000\n", ""},
                                       {repeated("\u00E9", 64) + " ", expected::codeTooLong}}) { // 129 bytes
        model->pairingCode().set(code);
        model->pair(false);
        EXPECT_EQ(model->notice().value(), notice);
        EXPECT_EQ(model->pairingCode().value(), code);
    }
    flush();
    EXPECT_EQ(sent().size(), before);

    model->pairingCode().set("\u2028" + repeated("\u00E9", 62) + " "); // 128 bytes
    model->pair(true);
    flush();
    EXPECT_EQ(lastSent("pair").payload, (JSONObject{{"code", repeated("\u00E9", 62)}, {"replace", true}}));
    EXPECT_EQ(model->pairingCode().value(), "");
    EXPECT_TRUE(model->busy().value());
    answer("pair", okPayload());
    EXPECT_EQ(model->notice().value(), expected::paired);
    answer("start", okPayload({{"nativeGeneration", "N"}}));
    EXPECT_EQ(model->notice().value(), expected::paired);
}

// Every completion of a transaction that stop() replaced does nothing at all: it neither clears busy
// nor sets a text, stores nothing and sends nothing.
TEST_F(ModelTest, ALateReplyOfAReplacedTransactionChangesNothing) {
    ports.values = {{"roonHost", "core:9330"}};
    const auto configured = [this](JSONObject reply) {
        answer("configure", std::move(reply));
    };
    struct Row {
        std::function<void()> leaveInFlight;
        std::string type;
        JSONObject reply;
    };
    const std::vector<Row> rows = {
        {[] {}, "configure", okPayload()},
        {[&] { configured(okPayload()); }, "start", failurePayload("pairing_required")},
        {[&] { configured({}), model->pairingCode().set("1"), model->pair(false); }, "pair", okPayload()},
        {[&] { configured({}), model->resetRoon(); }, "resetRoon", {}},
        {[&] {
             configured(okPayload());
             answer("start", okPayload({{"nativeGeneration", "N"}}));
             model->connect(); // publishing: a failed configure resumes with stop, then start
             flush();
             configured({});
         },
         "stop", okPayload()},
    };
    for (const auto& row : rows) {
        ready();
        row.leaveInFlight();
        flush();
        const Envelope late = lastSent(row.type);
        model->stop();
        flush();
        EXPECT_FALSE(model->busy().value());
        EXPECT_EQ(model->notice().value(), expected::paused);
        answer("stop", okPayload());
        EXPECT_EQ(sentTypes().back(), "status");
        model->connect(); // the newest transaction: busy, with an empty notice
        flush();
        const auto before = sent().size();
        ports.values.clear();
        child().answer(late, row.reply);
        settle();
        EXPECT_TRUE(model->busy().value()) << row.type;
        EXPECT_EQ(model->notice().value(), "") << row.type;
        EXPECT_TRUE(ports.values.empty()) << row.type;
        EXPECT_EQ(sent().size(), before) << row.type;
        child().exit();
        settle();
    }
}

TEST_F(ModelTest, WhileBusyTheOperationsDoNothingAndTheRoonSwitchIsStoredAndSent) {
    ready();
    model->notice().set("kept");
    model->connect();
    model->pairingCode().set("123456");
    model->pair(false);
    model->resetRoon();
    model->setRoonEnabled(false);
    model->setAppleMusicEnabled(true);
    flush();
    EXPECT_EQ(model->notice().value(), "kept");
    EXPECT_EQ(sentTypes().back(), "configure");
    EXPECT_EQ(countSent("configure"), 1);
    EXPECT_TRUE(model->roonEnabled().value());
    EXPECT_FALSE(model->appleMusicEnabled().value());
    EXPECT_TRUE(ports.values.empty());

    answer("configure", okPayload());
    model->setRoonEnabled(false);
    EXPECT_EQ(ports.values.at("roonEnabled"), JSONValue(false));
    flush();
    EXPECT_EQ(lastSent("configure").payload.at("roonEnabled"), JSONValue(false));
}

TEST_F(ModelTest, AFailedConfigureOrAResetWhilePublishingResumesWithStopThenStart) {
    started();
    model->connect();
    flush();
    answer("configure", failurePayload("bridge_unreachable"));
    EXPECT_EQ(sentTypes().back(), "stop");
    answer("stop", failurePayload("failed"));
    EXPECT_EQ(sentTypes().back(), "start");
    answer("start", okPayload({{"nativeGeneration", "NATIVE-2"}}));

    for (const auto& [reply, notice] : {std::pair<JSONObject, std::string>{{}, expected::roonResetFailed},
                                        {okPayload(), expected::roonReset}}) {
        model->resetRoon();
        flush();
        EXPECT_FALSE(model->busy().value());
        answer("resetRoon", reply);
        EXPECT_EQ(model->notice().value(), notice);
        EXPECT_EQ(lastSent("stop").id, sent()[sent().size() - 2].id);
        EXPECT_EQ(sentTypes().back(), "status");
        answer("stop", okPayload());
        EXPECT_EQ(sentTypes().back(), "start");
        answer("start", okPayload({{"nativeGeneration", "NATIVE-3"}}));
    }
}

} // namespace
} // namespace kavrel
