#pragma once

#include "MusicBridge/events/MusicScripting.hpp"
#include "MusicBridge/events/MusicTarget.hpp"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavrel {

// An in-memory music app behind both bridge ports: a library of tracks in one source, answering
// object specifiers by resolving them against the library as a scriptable app does (by unique ID and
// by position), with faults to inject. Thread-safe: a test may change it while a bridge reads.
class SimulatedMusicApp final : public MusicTarget {
public:
    enum class Kind { fileTrack, stream, subscriptionTrack, userPlaylistTrack };

    struct Track {
        std::int64_t itemID = 0;
        std::int32_t databaseID = 0;
        std::string persistentID;
        std::string name;
        std::string artist;
        std::optional<std::string> album;
        double duration = 0;
        Kind kind = Kind::fileTrack;
        bool favorited = false;
        std::optional<std::vector<std::uint8_t>> artwork;
    };

    static constexpr std::int32_t sourceID = 64;
    static constexpr std::int32_t playlistID = 9001;

    // Library and player.
    void addTrack(Track track);
    void play(std::int64_t itemID, FourCharCode state = music::playerStatePlaying);
    void setPlayerState(FourCharCode state);
    void setPosition(double seconds);
    void setFavorite(std::int64_t itemID, bool favorited);
    void setPersistentID(std::int64_t itemID, std::string persistentID);
    void setName(std::int64_t itemID, std::string name);
    std::optional<bool> favorite(std::int64_t itemID) const;

    // Faults.
    void setRunning(bool running);
    // The status of the permission check; a check with ask set grants when grantWhenAsked.
    void setPermission(OSStatus status, bool grantWhenAsked = false);
    // Every event and scripting read fails with this status (-1712: time-out) until cleared.
    void failEverything(std::optional<OSStatus> status);
    // The app reports this status for writes of the favourite, leaving it unchanged.
    void failWrites(std::optional<OSStatus> status);
    // After a write, the written value is shown for this many reads and then the old one returns.
    void revertWritesAfterReads(std::optional<int> reads);

    // What the bridge has done.
    int eventsSent() const;
    int favoriteWrites() const;
    int permissionPrompts() const;

    MusicScriptingFactory scriptingFactory();

    bool hasRunningApplication(std::string_view bundleIdentifier) override;
    OSStatus determinePermissionToAutomate(const AEDesc& address, FourCharCode eventClass,
                                           FourCharCode eventID, bool askUserIfNeeded) override;
    OSStatus send(const AppleEvent& event, AEDesc& reply, std::int32_t sendMode, long timeoutTicks) override;

private:
    class Scripting;
    class ScriptingTrack;
    struct Revert {
        bool value;
        int readsLeft;
    };

    // The track a specifier addresses, checking every level up to the application; none when it does
    // not resolve.
    Track* resolveTrack(const AEDesc& specifier);
    AEDesc specifierOf(const Track& track) const;
    AEDesc libraryFileSpecifier(const Track& track) const;
    OSStatus getProperty(FourCharCode property, const AEDesc& container, AEDesc& result);
    OSStatus setProperty(FourCharCode property, const AEDesc& container, const AEDesc* value);
    bool readFavorite(Track& track);

    mutable std::mutex mutex;
    std::map<std::int64_t, Track> library;
    std::optional<std::int64_t> current;
    FourCharCode playerState = music::playerStateStopped;
    double position = 0;
    bool running = true;
    OSStatus permission = status::noErr;
    bool grantWhenAsked = false;
    std::optional<OSStatus> failure;
    std::optional<OSStatus> writeFailure;
    std::optional<int> revertAfterReads;
    std::map<std::int64_t, Revert> reverts;
    int events = 0;
    int writes = 0;
    int prompts = 0;
};

} // namespace kavrel
