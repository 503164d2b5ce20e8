#pragma once

#include "MusicBridge/events/FourCharCode.hpp"
#include "MusicBridge/events/MusicTarget.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// Told about every failed scripting read. The failing read then answers an empty or zero value.
class MusicScriptingDelegate {
public:
    virtual void eventDidFail(OSStatus status) = 0;

protected:
    ~MusicScriptingDelegate() = default;
};

// One track as the scripting interface resolved it: later reads ask the app about this very track.
class MusicScriptingTrack {
public:
    virtual ~MusicScriptingTrack() = default;

    virtual std::string name() = 0;
    virtual std::string artist() = 0;
    virtual std::optional<std::string> album() = 0;
    virtual double duration() = 0;
    virtual std::string persistentID() = 0;
    virtual std::int64_t databaseID() = 0;
    virtual std::int64_t itemID() = 0;
    // Raw bytes of the track's first artwork; none when it has no artwork.
    virtual std::optional<std::vector<std::uint8_t>> artworkData() = 0;
};

// The music app's application object for plain reads.
class MusicScripting {
public:
    virtual ~MusicScripting() = default;

    virtual FourCharCode playerState() = 0;
    // Seconds.
    virtual double playerPosition() = 0;
    // The current track resolved to a fixed reference; none when there is no current track.
    virtual std::shared_ptr<MusicScriptingTrack> currentTrack() = 0;
};

struct MusicScriptingSettings {
    MusicScriptingDelegate* delegate;
    long timeoutTicks;
    std::int32_t sendMode;
};

// Creates the application object for a bundle identifier; the delegate outlives the object.
using MusicScriptingFactory = std::function<std::unique_ptr<MusicScripting>(
    std::string_view bundleIdentifier, const MusicScriptingSettings& settings)>;

} // namespace kavrel
