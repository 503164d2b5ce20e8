#include "bridge/BridgeHarness.hpp"

#include <stdexcept>

namespace kavrel {
namespace {

class FavoriteTest : public BridgeTest {
protected:
    FavoriteTest() {
        auto added = track(1);
        added.favorited = false;
        ref = text(playAndRead(added), "trackRef");
    }

    KVMusicBridge::Admission always = [] {
        return true;
    };
    std::string ref;
};

TEST_F(FavoriteTest, ReadsTheCapturedTrackOnlyWhileItsIdentityHolds) {
    app.setFavorite(1, true);
    EXPECT_TRUE(bridge->favoriteForTrackRef(ref));
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("never-issued"); }), "track_unavailable");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref, [] { return false; }); }),
              "native_command_expired");

    // Another track playing does not matter: the capture is addressed, not the current track.
    app.addTrack(track(2));
    app.play(2);
    EXPECT_TRUE(bridge->favoriteForTrackRef(ref));

    app.setPersistentID(1, "0000000000000000");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref); }), "track_unavailable");
}

TEST_F(FavoriteTest, ReadFailuresAreMappedAndExceptionsAreTrackUnavailable) {
    app.failEverything(status::errAETimeout);
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref); }), "track_unavailable");
    app.failEverything(std::nullopt);
    const auto throwing = []() -> bool {
        throw std::runtime_error("admission broke");
    };
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref, throwing); }), "track_unavailable");
}

TEST_F(FavoriteTest, AWriteIsConfirmedByTheReadFiveSecondsAfterIt) {
    EXPECT_TRUE(bridge->setFavorite(true, ref, always));
    EXPECT_EQ(app.favorite(1), true);
    EXPECT_EQ(app.favoriteWrites(), 1);
    EXPECT_DOUBLE_EQ(slept, 5.0); // ten pauses: the first reads already showed the value
}

TEST_F(FavoriteTest, AValueThatFlipsBackIsNeverConfirmed) {
    app.revertWritesAfterReads(2);
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), "native_write_uncertain");
    EXPECT_GE(slept, 10.0);
    EXPECT_LE(slept, 10.5);
    EXPECT_EQ(app.favorite(1), false);
}

TEST_F(FavoriteTest, WritesThatCannotBeConfirmedAreUncertain) {
    app.failWrites(status::errAEWriteDenied);
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), "native_write_uncertain");
    app.failWrites(std::nullopt);

    // The identity changes once the write has been sent (earlier, the gate wait would catch it).
    onSleep = [&] {
        if (app.favoriteWrites() == 2) {
            app.setPersistentID(1, "FFFFFFFFFFFFFFFF");
        }
    };
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), "native_write_uncertain");
}

TEST_F(FavoriteTest, AdmissionEndsAWriteBeforeOrAfterItIsSent) {
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, {}); }), "native_command_expired");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, [] { return false; }); }),
              "native_command_expired");
    EXPECT_EQ(app.favoriteWrites(), 0);

    const double deadline = now + 3;
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, [&] { return now < deadline; }); }),
              "native_write_uncertain");
    EXPECT_EQ(app.favoriteWrites(), 1);

    const auto throwing = []() -> bool {
        throw std::runtime_error("admission broke");
    };
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, throwing); }), "native_write_uncertain");
}

TEST_F(FavoriteTest, ASecondCommandWaitsOnTheGateOfTheTrack) {
    app.failWrites(status::errAEWriteDenied); // fails at once, leaving the track settling for 5 s
    failureOf([&] { bridge->setFavorite(true, ref, always); });
    app.failWrites(std::nullopt);
    const double writtenAt = now;

    int admissions = 0;
    double longestGap = 0;
    double lastAsked = now;
    EXPECT_FALSE(bridge->favoriteForTrackRef(ref, [&] {
        ++admissions;
        longestGap = std::max(longestGap, now - lastAsked);
        lastAsked = now;
        return true;
    }));
    EXPECT_DOUBLE_EQ(now - writtenAt, 5.0);
    EXPECT_LE(longestGap, 0.1 + 1e-9);
    EXPECT_GE(admissions, 50);
}

TEST_F(FavoriteTest, AnExpiredAdmissionWhileSettlingSendsNothing) {
    app.failWrites(status::errAEWriteDenied);
    failureOf([&] { bridge->setFavorite(true, ref, always); });
    app.failWrites(std::nullopt);
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
