// Roon discovery: the automatic search, the outcome of each reply and the dropping of late ones.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

// Without the connector a search is unavailable at once. With it, the search runs on its own once, before
// the first configure, when the host is empty but for white space; one search runs at a time, and one that
// the connector's exit overtook logs nothing.
TEST_F(ModelTest, DiscoveryRunsOnItsOwnOnceAndEachReplyGivesItsSentenceAndOneLogLine) {
    // The sentences in the order idle, searching, found, notFound, networkDenied, unavailable.
    const auto shown = [&] {
        return message(model->roonDiscovery().value());
    };
    const std::vector<std::tuple<JSONObject, int, std::string>> cases = {
        {okPayload({{"found", true}}), 2, "found"},
        {failurePayload("roon_not_found"), 3, "not_found"},
        {failurePayload("local_network_denied"), 4, "permission_denied"},
        {okPayload({{"found", false}}), 5, "unavailable"},
        {{{"ok", false}, {"code", 404}}, 5, "unavailable"},
    };
    ports.values = {{"roonHost", " \u00A0\u2029"}};
    makeModel();
    EXPECT_EQ(shown(), expected::discovery[0]);
    model->findRoonServer();
    EXPECT_EQ(shown(), expected::discovery[5]);
    ready();
    const auto types = sentTypes();
    EXPECT_LT(std::ranges::find(types, "discoverRoon"), std::ranges::find(types, "configure"));
    for (const auto& [payload, sentence, label] : cases) {
        model->findRoonServer(); // the first runs already
        model->findRoonServer();
        EXPECT_EQ(shown(), expected::discovery[1]);
        answer("discoverRoon", payload);
        EXPECT_EQ(shown(), expected::discovery[sentence]) << label;
        EXPECT_EQ(ports.lines.back(), "discovery: outcome=" + label);
    }
    EXPECT_EQ(countSent("discoverRoon"), 5);
    model->findRoonServer();
    exitChild();
    EXPECT_EQ(shown(), expected::discovery[5]);
    EXPECT_EQ(ports.lines.size(), 5u);
    launchReady();
    settle();
    EXPECT_EQ(countSent("discoverRoon"), 0);
}

// A search's generation outlives a restart of the connector: its late reply must not overwrite the search
// that the new connector runs.
TEST_F(ModelTest, AReplyFromBeforeARestartIsDropped) {
    std::vector<HelperSupervisor::Completion> searches;
    const BuildInfo build{"1.2.0", "42", "Debian 12"};
    model =
        CompanionModel::create({loop, supervisor, music, ports, ports, ports, build, [&](auto completion) {
                                    searches.push_back(std::move(completion));
                                }});
    ready();
    model->findRoonServer();
    exitChild();
    ready();
    model->findRoonServer();
    ASSERT_EQ(searches.size(), 2u);
    searches[0](Envelope("old", "discoverRoon", okPayload({{"found", true}})));
    EXPECT_EQ(message(model->roonDiscovery().value()), expected::discovery[1]);
    searches[1](Envelope("new", "discoverRoon", failurePayload("roon_not_found")));
    EXPECT_EQ(message(model->roonDiscovery().value()), expected::discovery[3]);
}

} // namespace
} // namespace kavrel
