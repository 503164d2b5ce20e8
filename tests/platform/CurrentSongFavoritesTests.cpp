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
    std::vector<double> rated;

    Song current() override { return song; }
    OSStatus rate(double rating) override {
        rated.push_back(rating);
        song = {status::noErr, keyAfterRating, rating};
        return status::noErr;
    }
    double unrated() const override { return 0.5; }
};

// A song is there only while it is the current one: checked right before rating it and right after.
TEST(CurrentSongFavorites, ReadsAndWritesTheTopOfTheCurrentSongOnly) {
    auto owned = std::make_unique<FakeRater>();
    FakeRater& rater = *owned;
    CurrentSongFavorites favorites(std::move(owned));
    // Each row: the current song and its rating, and what locating and reading song "a" give.
    const std::tuple<const char*, std::optional<double>, OSStatus, OSStatus, bool> reads[] = {
        {"a", 1.0, status::noErr, status::noErr, true},
        {"a", 0.99, status::noErr, status::noErr, true},
        {"a", 0.98, status::noErr, status::noErr, false},
        {"a", std::nullopt, status::noErr, status::errAENoSuchObject, false},
        {"b", 1.0, status::errAENoSuchObject, status::errAENoSuchObject, false},
    };
    for (const auto& [current, rating, located, read, favorite] : reads) {
        rater.song = {status::noErr, current, rating};
        EXPECT_EQ(std::tuple(favorites.locate("a"), favorites.read("a").status, favorites.read("a").favorite),
                  std::tuple(located, read, favorite))
            << current << " " << rating.value_or(-1);
    }

    // Each row: the player's answer, its current song and rating, the song current once rated; the
    // favourite asked for song "a"; the status returned and the ratings sent.
    const std::tuple<const char*, OSStatus, const char*, double, const char*, bool, OSStatus,
                     std::vector<double>>
        writes[] = {
            {"clearing the top", status::noErr, "a", 0.99, "a", false, status::noErr, {0.5}},
            {"another song plays", status::noErr, "b", 0.5, "b", true, status::errAENoSuchObject, {}},
            {"changed during the call", status::noErr, "a", 0.5, "b", true, status::errAENoSuchObject, {1.0}},
            {"the player is gone", status::procNotFound, "", 0, "", true, status::procNotFound, {}},
        };
    for (const auto& [why, player, current, rating, after, desired, expected, sent] : writes) {
        rater.song = {player, current, rating};
        rater.keyAfterRating = after;
        rater.rated.clear();
        EXPECT_EQ(favorites.write("a", desired), expected) << why;
        EXPECT_EQ(rater.rated, sent) << why;
    }
}

} // namespace
} // namespace kavrel
