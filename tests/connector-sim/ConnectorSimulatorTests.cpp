#include "connector-sim/EndToEnd.hpp"

namespace kavrel {
namespace {

// Over the simulated music app; MusicSourceInside runs the same over a real MPD.
TEST(CompanionEndToEnd, PairsSharesAndTheConnectorsFavouriteWriteLandsInTheMusicAppAndReadsBack) {
    SimulatedMusicApp app;
    app.addTrack(simulatedTrack(7));
    app.play(7);
    pairShareAndWriteTheFavourite(app);
    EXPECT_TRUE(app.favorite(7));
    EXPECT_EQ(app.favoriteWrites(), 1);
}

} // namespace
} // namespace kavrel
