#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <functional>
#include <optional>
#include <string>

namespace kavrel {

// The controller's only way to the music app: it reads snapshots, diagnostics and artwork and reads
// or writes the favourite of a track that a snapshot published. Failures are thrown as exceptions
// whose what() is a machine code ("music_not_running", "track_unavailable", ...); the controller
// maps anything else to a safe code of its own.
//
// The controller calls snapshot, permission, diagnostics and favourite operations from its music
// queue only and artworkSnapshot from its artwork queue only, so an implementation needs no lock as
// long as the artwork path uses state of its own.
//
// An implementation that overrides one of the two favourite reads brings the other into scope with
// `using MusicAccess::favorite;`.
class MusicAccess {
public:
    // Whether a command may still go ahead: false once it expired or its run ended.
    using Admission = std::function<bool()>;

    virtual ~MusicAccess() = default;

    // Asks the user for permission to control the music app. By default there is nothing to ask.
    virtual void requestAuthorization();

    // One playback snapshot: provider, state, updatedAt, positionMs, durationMs and track.
    virtual JSONObject snapshot() = 0;

    // How far the last snapshot read got; by default it was never observed.
    virtual JSONObject favoriteDiagnostics();

    // The last snapshot with track.artworkBase64 attached, or none when there is no artwork. By
    // default there never is.
    virtual std::optional<JSONObject> artworkSnapshot();

    virtual bool favorite(const std::string& trackRef) = 0;

    // The favourite read guarded by admission before and after it: a read whose admission turns false
    // while it runs ends with "native_command_expired" rather than the value read.
    virtual bool favorite(const std::string& trackRef, const Admission& admission);

    // Writes the favourite and returns the state read back.
    virtual bool setFavorite(const std::string& trackRef, bool desired, const Admission& admission) = 0;

    // Throws the error whose description is "native_command_expired".
    [[noreturn]] static void throwExpired();
};

} // namespace kavrel
