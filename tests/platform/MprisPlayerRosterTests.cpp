#include "Platform/MprisPlayerRoster.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

TEST(MprisPlayerRoster, PlayingWinsElseTheLatestChange) {
    MprisPlayerRoster roster;
    EXPECT_EQ(roster.chosen(), std::nullopt);

    roster.appeared("org.mpris.MediaPlayer2.a", ":1.1");
    roster.appeared("org.mpris.MediaPlayer2.b", ":1.2");
    roster.statusRead("org.mpris.MediaPlayer2.a", "Paused");
    roster.statusRead("org.mpris.MediaPlayer2.b", "Paused");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.b") << "the later appearance";

    roster.statusChanged(":1.1", "Playing");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.a");
    roster.statusChanged(":1.2", "Stopped");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.a") << "a later change does not beat playing";

    roster.statusChanged(":1.1", "Paused");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.a") << "pausing is the latest change";
    roster.statusChanged(":1.2", "Stopped");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.a") << "announcing the same state is no change";

    roster.statusChanged(":1.2", "Playing");
    roster.statusChanged(":1.1", "Playing");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.a") << "of two playing, the one that started last";
}

TEST(MprisPlayerRoster, FollowsOwnersAndIgnoresStrangers) {
    MprisPlayerRoster roster;
    roster.appeared("org.mpris.MediaPlayer2.a", ":1.1");
    roster.appeared("org.mpris.MediaPlayer2.b", ":1.2");
    roster.statusChanged(":1.9", "Playing");
    EXPECT_EQ(roster.unread().size(), 2u) << "a signal from a connection that owns no player";

    roster.statusChanged(":1.1", "Playing");
    EXPECT_EQ(roster.unread(), std::vector<std::string>{"org.mpris.MediaPlayer2.b"});
    roster.statusRead("org.mpris.MediaPlayer2.a", "Stopped");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.a") << "a late read does not undo a signal";

    // The same name from a new process starts over, its old state forgotten.
    roster.appeared("org.mpris.MediaPlayer2.a", ":1.5");
    roster.statusChanged(":1.1", "Playing");
    EXPECT_EQ(roster.unread().size(), 2u);
    roster.statusRead("org.mpris.MediaPlayer2.a", std::nullopt);
    EXPECT_EQ(roster.unread(), std::vector<std::string>{"org.mpris.MediaPlayer2.b"}) << "not read again";

    // Reported by both the listing and the signal: one appearance.
    roster.statusRead("org.mpris.MediaPlayer2.b", "Playing");
    roster.appeared("org.mpris.MediaPlayer2.b", ":1.2");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.b");

    roster.vanished("org.mpris.MediaPlayer2.b");
    EXPECT_EQ(roster.chosen(), "org.mpris.MediaPlayer2.a");
    roster.vanished("org.mpris.MediaPlayer2.a");
    EXPECT_EQ(roster.chosen(), std::nullopt);
}

} // namespace
} // namespace kavrel
