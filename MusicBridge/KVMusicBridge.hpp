#pragma once

#include "MusicBridge/KVCapturedTrack.hpp"
#include "MusicBridge/KVValue.hpp"
#include "MusicBridge/events/MusicScripting.hpp"
#include "MusicBridge/events/MusicTarget.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavrel {

// The only code that talks to the music app: connection and permission, playback snapshots with
// captured tracks, favourite reads and confirmed writes, and the artwork of the last read. Failures
// reach callers as MusicBridgeError. Not thread-safe: each instance is used from one queue.
class KVMusicBridge final : private MusicScriptingDelegate {
public:
    using Admission = std::function<bool()>;
    // Raw artwork bytes to the Base64 text of a small JPEG; none when no thumbnail can be made.
    using ArtworkEncoder = std::function<std::optional<std::string>(const std::vector<std::uint8_t>&)>;

    struct Ports {
        MusicTarget& target;
        MusicScriptingFactory scripting;
        // Fresh capture references (UUID text).
        std::function<std::string()> makeReference;
        // Empty: tracks never carry artwork.
        ArtworkEncoder artwork = {};
    };

    // Time as the bridge sees it; tests pass a virtual clock whose sleep advances it.
    struct Timing {
        std::function<double()> uptime;            // monotonic seconds: settling gates and write loop
        std::function<double()> unixMilliseconds;  // the snapshot's updatedAt
        std::function<void(double seconds)> sleep; // blocks the calling queue
        static Timing system();
    };

    static constexpr const char* bundleIdentifier = "com.apple.Music";
    static constexpr std::size_t maxCaptures = 128;
    static constexpr std::size_t maxArtworkBytes = 8 * 1024 * 1024;
    static constexpr int writeReadBacks = 21;
    static constexpr double readBackPauseSeconds = 0.5;
    static constexpr double confirmAfterSeconds = 5.0;
    static constexpr double giveUpAfterSeconds = 10.0;

    explicit KVMusicBridge(Ports ports, Timing timing = Timing::system());
    ~KVMusicBridge();
    KVMusicBridge(const KVMusicBridge&) = delete;
    KVMusicBridge& operator=(const KVMusicBridge&) = delete;

    // Asks the user when needed; throws "automation_required" or "automation_denied" on refusal.
    void requestPermission();

    // One playback snapshot, capturing the current track so favourite commands can target it.
    KVDictionary readSnapshot();
    // The same read without captures, for the artwork path.
    KVDictionary readPlaybackSnapshot();
    // The last read's snapshot with artwork attached, or an empty dictionary. Never throws.
    KVDictionary readArtworkSnapshot();

    // The favourite of a captured track; the admission is asked before and after every step.
    bool favoriteForTrackRef(const std::string& trackRef, const Admission& admission = {});
    // Writes the favourite and returns it once it has held for confirmAfterSeconds.
    bool setFavorite(bool desired, const std::string& trackRef, const Admission& admission);

    // How far the last read got; numbers, Booleans and codes only, in the order the read set them.
    const KVDictionary& favoriteDiagnostics() const { return diagnostics; }
    std::optional<OSStatus> lastPermissionStatus() const { return permissionStatus; }

private:
    void eventDidFail(OSStatus status) override;

    // Connection and events.
    std::optional<std::string> permission(bool ask);
    void connect();
    std::string mappedError() const;
    std::optional<AEDesc> event(FourCharCode eventID, const AEDesc& target, std::optional<bool> value);
    std::optional<AEDesc> property(FourCharCode code, const AEDesc& container,
                                   std::optional<bool> value = {});
    OSStatus lastErrorCode() const { return lastError.value_or(0); }

    // Snapshots.
    KVDictionary readSnapshotWithCaptures(bool captures);
    KVDictionary readSnapshotSteps(bool captures);
    KVCapturedTrack* findCapture(const std::string& persistentID, std::int64_t databaseID,
                                 const std::string& name, const std::string& artist);
    std::optional<AEDesc> captureSpecifier(std::int64_t itemID);
    std::optional<AEDesc> libraryFile(std::int64_t itemID);
    void store(std::unique_ptr<KVCapturedTrack> capture);
    bool matches(const KVCapturedTrack& capture);
    std::optional<bool> readFavorite(const KVCapturedTrack& capture);
    std::optional<bool> displayFavorite(const std::string& persistentID, std::int64_t databaseID);
    std::optional<std::string> artwork(MusicScriptingTrack& track);

    // Favourites.
    KVCapturedTrack& verifiedCapture(const std::string& trackRef, const Admission& admission);

    Ports ports;
    Timing timing;
    KVDictionary diagnostics;
    std::unique_ptr<MusicScripting> application;
    std::optional<OSStatus> lastError;
    std::map<std::string, std::unique_ptr<KVCapturedTrack>, std::less<>> captures;
    std::deque<std::string> order;
    std::shared_ptr<MusicScriptingTrack> artworkTrack;
    std::optional<KVDictionary> artworkSnapshot;
    std::optional<std::string> artworkIdentity;
    std::optional<std::string> cachedArtwork;
    std::optional<OSStatus> permissionStatus;
};

} // namespace kavrel
