#include "MusicBridge/events/ObjectSpecifier.hpp"
#include "Platform/TrackEvents.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

struct PresentChannel final : FavoriteChannel {
    OSStatus locate(const std::string&) override { return status::noErr; }
    Read read(const std::string&) override { return {}; }
    OSStatus write(const std::string&, bool) override { return status::noErr; }
};

SharedTrack writable(int number, const std::shared_ptr<FavoriteChannel>& channel) {
    const std::string key = "song" + std::to_string(number);
    return {MprisIdentity::ofKey("player", key), key, channel, std::nullopt};
}

// The error number of the library lookup of that unique ID; 0 when it is found.
std::int32_t lookUp(TrackEvents& events, std::int64_t id) {
    const AEDesc library = createObjSpecifier(music::classLibraryPlaylist, AEDesc(), ae::formAbsolutePosition,
                                              AEDesc::makeLong(1));
    AppleEvent event{ae::eventClassCore, ae::eventGetData, AEDesc()};
    event.parameters.putParam(ae::keyDirectObject,
                              createObjSpecifier(music::classTrack, library, ae::formUniqueID,
                                                 AEDesc::makeLong(static_cast<std::int32_t>(id))));
    const AEDesc reply = events.answer(event);
    const AEDesc* error = reply.param(ae::keyErrorNumber);
    return error != nullptr ? error->fixedValue<std::int32_t>().value_or(1) : 0;
}

TEST(TrackEvents, RemembersTheLast256WritableTracksSeen) {
    TrackEvents events;
    const auto channel = std::make_shared<PresentChannel>();
    EXPECT_EQ(events.setCurrent(SharedTrack{MprisIdentity::ofKey("player", "read-only"), {}, nullptr, true}),
              0);
    const std::int64_t first = events.setCurrent(writable(0, channel));
    const std::int64_t second = events.setCurrent(writable(1, channel));
    EXPECT_EQ(first, MprisIdentity::ofKey("player", "song0").databaseID);
    for (int number = 2; number < 256; ++number) {
        events.setCurrent(writable(number, channel));
    }
    events.setCurrent(writable(0, channel)); // seen again: the most recent
    events.setCurrent(writable(256, channel));
    events.setCurrent(std::nullopt);
    EXPECT_EQ(lookUp(events, first), 0);
    EXPECT_EQ(lookUp(events, second), status::errAENoSuchObject) << "the least recently seen went";
    EXPECT_EQ(lookUp(events, events.setCurrent(writable(255, channel))), 0);
}

} // namespace
} // namespace kavrel
