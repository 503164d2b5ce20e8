#include "Platform/CurrentSongFavorites.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kavrel {
namespace {

// A player that rates only its current song, as Quod Libet does; rating it may move on to the next.
struct FakeRater final : CurrentSongRater {
    Song song;
    std::string keyAfterRating;
    std::vector<double>* rated;

    Song current() override { return song; }
    OSStatus rate(double rating) override {
        rated->push_back(rating);
        song = {status::noErr, keyAfterRating, rating};
        return status::noErr;
    }
    double unrated() const override { return 0.5; }
};

TEST(CurrentSongFavorites, WritesOnlyWhileTheSongIsCurrentBeforeAndAfter) {
    // Each row: the player's answer, its current song and rating, the song current once rated; the
    // favourite asked for song "a"; the status returned and the ratings sent.
    const std::tuple<const char*, OSStatus, const char*, double, const char*, bool, OSStatus,
                     std::vector<double>>
        rows[] = {
            {"favourite", status::noErr, "a", 0.5, "a", true, status::noErr, {1.0}},
            {"clearing the top", status::noErr, "a", 0.99, "a", false, status::noErr, {0.5}},
            {"clearing leaves a lower rating", status::noErr, "a", 0.75, "a", false, status::noErr, {}},
            {"another song plays", status::noErr, "b", 0.5, "b", true, status::errAENoSuchObject, {}},
            {"changed during the call", status::noErr, "a", 0.5, "b", true, status::errAENoSuchObject, {1.0}},
            {"the player is gone", status::procNotFound, "", 0, "", true, status::procNotFound, {}},
        };
    for (const auto& [why, player, current, rating, after, desired, expected, sent] : rows) {
        std::vector<double> rated;
        auto rater = std::make_unique<FakeRater>();
        rater->song = {player, current, rating};
        rater->keyAfterRating = after;
        rater->rated = &rated;
        CurrentSongFavorites favorites(std::move(rater));
        EXPECT_EQ(favorites.write("a", desired), expected) << why;
        EXPECT_EQ(rated, sent) << why;
    }
}

TEST(CurrentSongFavorites, ReadsTheTopOfTheCurrentSongOnly) {
    std::vector<double> rated;
    auto owned = std::make_unique<FakeRater>();
    FakeRater& rater = *owned;
    rater.rated = &rated;
    CurrentSongFavorites favorites(std::move(owned));
    // Each row: the current song and its rating, and what reading song "a" gives.
    const std::tuple<const char*, std::optional<double>, OSStatus, bool> rows[] = {
        {"a", 1.0, status::noErr, true},
        {"a", 0.99, status::noErr, true},
        {"a", 0.98, status::noErr, false},
        {"a", std::nullopt, status::errAENoSuchObject, false},
        {"b", 1.0, status::errAENoSuchObject, false},
    };
    for (const auto& [current, rating, expected, favorite] : rows) {
        rater.song = {status::noErr, current, rating};
        EXPECT_EQ(favorites.read("a").status, expected) << current;
        EXPECT_EQ(favorites.read("a").favorite, favorite) << rating.value_or(-1);
        EXPECT_EQ(favorites.locate("a"),
                  current == std::string("a") ? status::noErr : status::errAENoSuchObject);
    }
}

} // namespace
} // namespace kavrel
