// Roon discovery: the automatic search, the outcome of each reply and the dropping of late ones.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

TEST_F(ModelTest, TheAutomaticSearchRunsOnceForAnEmptyHostBeforeConnecting) {
    ports.values = {{"roonHost", " \u00A0\u2029"}};
    ready();
    const auto types = sentTypes();
    const auto discover = std::ranges::find(types, "discoverRoon");
    ASSERT_NE(discover, types.end());
    EXPECT_LT(discover, std::ranges::find(types, "configure"));
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::searching);

    child().exit();
    settle();
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);
    launchReady();
    settle();
    EXPECT_EQ(countSent("discoverRoon"), 0);
}

TEST_F(ModelTest, EachReplyGivesItsStateAndOneLogLine) {
    struct Case {
        JSONObject payload;
        RoonDiscoveryState state;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {okPayload({{"found", true}}), RoonDiscoveryState::found, "found"},
        {failurePayload("roon_not_found"), RoonDiscoveryState::notFound, "not_found"},
        {failurePayload("local_network_denied"), RoonDiscoveryState::networkDenied, "permission_denied"},
        {okPayload({{"found", false}}), RoonDiscoveryState::unavailable, "unavailable"},
        {{{"ok", false}, {"code", 404}}, RoonDiscoveryState::unavailable, "unavailable"},
        {{}, RoonDiscoveryState::unavailable, "unavailable"},
    };
    ready();
    for (const auto& [payload, state, label] : cases) {
        if (model->roonDiscovery().value() != RoonDiscoveryState::searching) {
            model->findRoonServer();
            flush();
        }
        answer("discoverRoon", payload);
        EXPECT_EQ(model->roonDiscovery().value(), state) << label;
        EXPECT_EQ(ports.lines.back(), "discovery: outcome=" + label);
    }
    EXPECT_EQ(ports.lines.size(), cases.size());
}

TEST_F(ModelTest, OneSearchAtATimeAndNoneWithoutTheConnector) {
    makeModel();
    model->findRoonServer();
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);

    ports.values = {{"roonHost", "core:9330"}};
    std::vector<HelperSupervisor::Completion> requests;
    makeModel([&](HelperSupervisor::Completion completion) { requests.push_back(std::move(completion)); });
    ready();
    model->findRoonServer();
    model->findRoonServer();
    ASSERT_EQ(requests.size(), 1u);
    child().exit();
    settle();
    requests[0](Envelope("late", "result", okPayload({{"found", true}}))); // the connector is gone
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);
    EXPECT_TRUE(ports.lines.empty());
}

TEST(RoonDiscoveryStateText, EveryStateHasItsSentence) {
    const RoonDiscoveryState states[] = {RoonDiscoveryState::idle,          RoonDiscoveryState::searching,
                                         RoonDiscoveryState::found,         RoonDiscoveryState::notFound,
                                         RoonDiscoveryState::networkDenied, RoonDiscoveryState::unavailable};
    for (int index = 0; index < 6; ++index) {
        EXPECT_EQ(message(states[index]), expected::discovery[index]) << index;
    }
}

} // namespace
} // namespace kavrel
