#include "Platform/MprisPlayerRoster.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace kavrel {
namespace {

const std::string a = "org.mpris.MediaPlayer2.a";
const std::string b = "org.mpris.MediaPlayer2.b";

std::string chosen(const MprisPlayerRoster& roster) {
    const auto choice = roster.chosen();
    return choice ? choice->name : "<none>";
}

TEST(MprisPlayerRoster, PlayingWinsElseTheLatestChange) {
    MprisPlayerRoster roster;
    EXPECT_EQ(chosen(roster), "<none>");
    roster.appeared(a, ":1.1");
    roster.appeared(b, ":1.2");
    roster.statusRead(a, "Paused");
    roster.statusRead(b, "Paused");
    // Each row: a state announced by an owner, and the player chosen afterwards.
    const std::tuple<const char*, const char*, const std::string&, const char*> steps[] = {
        {":1.9", "Playing", b, "a stranger's signal; b appeared later"},
        {":1.1", "Playing", a, "playing wins"},
        {":1.2", "Stopped", a, "a later change does not beat playing"},
        {":1.1", "Paused", a, "pausing is the latest change"},
        {":1.2", "Stopped", a, "announcing the same state is no change"},
        {":1.2", "Playing", b, "playing again"},
        {":1.1", "Playing", a, "of two playing, the one that started last"},
    };
    for (const auto& [owner, status, expected, why] : steps) {
        roster.statusChanged(owner, status);
        EXPECT_EQ(chosen(roster), expected) << why;
    }
    EXPECT_EQ(roster.chosen()->owner, ":1.1");
}

TEST(MprisPlayerRoster, FollowsOwnersReadsOnceAndHidesTheBridgeOfADirectPlayer) {
    MprisPlayerRoster roster;
    roster.appeared(a, ":1.1");
    roster.appeared(b, ":1.2");
    roster.statusChanged(":1.1", "Playing");
    EXPECT_EQ(roster.unread(), std::vector<std::string>{b});
    roster.statusRead(a, "Stopped");
    EXPECT_EQ(chosen(roster), a) << "a late read does not undo a signal";
    roster.appeared(a, ":1.5");
    roster.statusRead(a, std::nullopt);
    EXPECT_EQ(roster.unread(), std::vector<std::string>{b}) << "a new owner is read once, failed or not";
    roster.statusRead(b, "Playing");
    roster.appeared(b, ":1.2");
    EXPECT_EQ(chosen(roster), b) << "listed and signalled: one appearance";

    // MPD reached directly and through its MPRIS bridge is one player: the direct one.
    roster.appeared("org.mpris.MediaPlayer2.mpd", ":1.7");
    roster.statusRead("org.mpris.MediaPlayer2.mpd", "Playing");
    roster.direct("mpd", "Paused");
    roster.vanished(b);
    roster.statusChanged(":1.5", "Paused");
    EXPECT_EQ(chosen(roster), a) << "the bridge's Playing does not count";
    roster.direct("mpd", "Playing");
    EXPECT_EQ(chosen(roster), "mpd");
    EXPECT_EQ(roster.chosen()->owner, "");
    roster.direct("mpd", std::nullopt);
    EXPECT_EQ(chosen(roster), "org.mpris.MediaPlayer2.mpd") << "the bridge alone is a player";
    roster.vanished("org.mpris.MediaPlayer2.mpd");
    roster.vanished(a);
    EXPECT_EQ(chosen(roster), "<none>");
}

} // namespace
} // namespace kavrel
