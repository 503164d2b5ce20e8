#include "bridge/BridgeHarness.hpp"

#include <stdexcept>

namespace kavrel {
namespace {

class FavoriteTest : public BridgeTest {
protected:
    FavoriteTest() { ref = *at(playAndRead(simulatedTrack(1)), "trackRef").string(); }

    // Fails a write at once, which leaves the track settling for 5 s.
    void failOneWrite() {
        app.failWrites(-10003);
        failureOf([&] { bridge->setFavorite(true, ref, always); });
        app.failWrites(std::nullopt);
    }

    KVMusicBridge::Admission always = [] {
        return true;
    };
    KVMusicBridge::Admission throwing = []() -> bool {
        throw std::runtime_error("admission broke");
    };
    std::string ref;
};

TEST_F(FavoriteTest, ReadsTheCapturedTrackOnlyWhileItsIdentityHolds) {
    app.setFavorite(1, true);
    EXPECT_TRUE(bridge->favoriteForTrackRef(ref));
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("never-issued"); }), "track_unavailable");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref, [] { return false; }); }),
              "native_command_expired");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref, throwing); }), "track_unavailable");

    // Another track playing does not matter: the capture is addressed, not the current track.
    app.addTrack(simulatedTrack(2));
    app.play(2);
    EXPECT_TRUE(bridge->favoriteForTrackRef(ref));
    app.failEverything(-1712);
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref); }), "track_unavailable");
    app.failEverything(std::nullopt);
    app.setPersistentID(1, "0000000000000000");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref); }), "track_unavailable");
}

// A write is confirmed only by a read that shows the value 5 s after it; reading gives up after 10 s
// or 21 reads with 0.5 s pauses, whichever comes first. The clock runs at the given seconds per pause.
TEST_F(FavoriteTest, AWriteIsConfirmedByAValueHeldFiveSecondsWithinTenSecondsAndTwentyOneReads) {
    struct Row {
        const char* label;
        double secondsPerPause;
        std::optional<int> revertAfterReads;
        std::string failure;
        double paused;
    };
    for (const auto& row :
         {Row{"held", 0.5, std::nullopt, "", 5.0}, Row{"flips back", 0.5, 2, "native_write_uncertain", 10.0},
          Row{"21 reads", 0.25, 2, "native_write_uncertain", 10.0},
          Row{"10 s", 1.0, 2, "native_write_uncertain", 5.5}}) {
        app.setFavorite(1, false);
        app.revertWritesAfterReads(row.revertAfterReads);
        onSleep = [&] {
            now += row.secondsPerPause - 0.5;
        };
        now += 10; // past any settling
        slept = 0;
        EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), row.failure) << row.label;
        EXPECT_DOUBLE_EQ(slept, row.paused) << row.label;
        EXPECT_EQ(app.favorite(1), row.failure.empty()) << row.label;
    }
}

TEST_F(FavoriteTest, WritesThatCannotBeConfirmedAreUncertainAndAdmissionEndsThem) {
    app.failWrites(-10003);
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), "native_write_uncertain");
    app.failWrites(std::nullopt);
    const double deadline = now + 8; // past the settling of the failed write, before confirmation
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, [&] { return now < deadline; }); }),
              "native_write_uncertain");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, throwing); }), "native_write_uncertain");
    EXPECT_EQ(app.favoriteWrites(), 2);
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, {}); }), "native_command_expired");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, [] { return false; }); }),
              "native_command_expired");
    EXPECT_EQ(app.favoriteWrites(), 2);

    // The identity changes once the write has been sent (earlier, the gate wait would catch it).
    now += 10;
    onSleep = [&] {
        if (app.favoriteWrites() == 3) {
            app.setPersistentID(1, "FFFFFFFFFFFFFFFF");
        }
    };
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), "native_write_uncertain");
}

TEST_F(FavoriteTest, ASecondCommandWaitsOnTheGateOfTheTrackAndSendsNothingOnceExpired) {
    failOneWrite();
    const double writtenAt = now;
    double longestGap = 0, lastAsked = now;
    EXPECT_FALSE(bridge->favoriteForTrackRef(ref, [&] {
        longestGap = std::max(longestGap, now - lastAsked);
        lastAsked = now;
        return true;
    }));
    EXPECT_DOUBLE_EQ(now - writtenAt, 5.0);
    EXPECT_LE(longestGap, 0.1 + 1e-9);

    failOneWrite();
    const int writes = app.favoriteWrites();
    const double deadline = now + 2;
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(false, ref, [&] { return now < deadline; }); }),
              "native_command_expired");
    EXPECT_EQ(app.favoriteWrites(), writes);
}

TEST(SettlingGateTest, UsesOnlyItsOwnClockAndSleep) {
    double clock = 50;
    std::vector<double> sleeps;
    KVMusicSettlingGate gate([&] { return clock; },
                             [&](double seconds) {
                                 sleeps.push_back(seconds);
                                 clock += seconds;
                             });
    EXPECT_TRUE(gate.waitWithAdmission({}));
    EXPECT_TRUE(sleeps.empty());
    gate.markWriteAttempt();
    clock += 4.95;
    gate.markWriteAttempt(); // a second attempt extends the period
    EXPECT_TRUE(gate.waitWithAdmission({}));
    EXPECT_DOUBLE_EQ(clock, 54.95 + 5.0);
    EXPECT_EQ(sleeps.size(), 50u);
}

} // namespace
} // namespace kavrel
