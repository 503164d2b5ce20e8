// Roon discovery: the automatic search, the outcome of each reply and the dropping of late ones.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

// Without the connector a search is unavailable at once. With it, the search runs on its own once, before
// the first configure, when the host is empty but for white space; one search runs at a time, and one that
// the connector's exit overtook logs nothing.
TEST_F(ModelTest, DiscoveryRunsOnItsOwnOnceAndEachReplyGivesItsStateAndOneLogLine) {
    const std::vector<std::tuple<JSONObject, RoonDiscoveryState, std::string>> cases = {
        {okPayload({{"found", true}}), RoonDiscoveryState::found, "found"},
        {failurePayload("roon_not_found"), RoonDiscoveryState::notFound, "not_found"},
        {failurePayload("local_network_denied"), RoonDiscoveryState::networkDenied, "permission_denied"},
        {okPayload({{"found", false}}), RoonDiscoveryState::unavailable, "unavailable"},
        {{{"ok", false}, {"code", 404}}, RoonDiscoveryState::unavailable, "unavailable"},
        {{}, RoonDiscoveryState::unavailable, "unavailable"},
    };
    ports.values = {{"roonHost", " \u00A0\u2029"}};
    makeModel();
    model->findRoonServer();
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);
    ready();
    const auto types = sentTypes();
    EXPECT_LT(std::ranges::find(types, "discoverRoon"), std::ranges::find(types, "configure"));
    for (const auto& [payload, state, label] : cases) {
        model->findRoonServer(); // the first runs already
        model->findRoonServer();
        answer("discoverRoon", payload);
        EXPECT_EQ(model->roonDiscovery().value(), state) << label;
        EXPECT_EQ(ports.lines.back(), "discovery: outcome=" + label);
    }
    EXPECT_EQ(countSent("discoverRoon"), 6);
    model->findRoonServer();
    exitChild();
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);
    EXPECT_EQ(ports.lines.size(), 6u);
    launchReady();
    settle();
    EXPECT_EQ(countSent("discoverRoon"), 0);
}

TEST(RoonDiscoveryStateText, EveryStateHasItsSentence) {
    for (int index = 0; index < 6; ++index) { // idle, searching, found, notFound, networkDenied, unavailable
        EXPECT_EQ(message(static_cast<RoonDiscoveryState>(index)), expected::discovery[index]) << index;
    }
}

} // namespace
} // namespace kavrel
