// Favourite commands on captured tracks: the identity is checked before and after every step, and a
// write counts only once its value has held for the settling period.

#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/MusicBridgeError.hpp"

namespace kavrel {
namespace {

const MusicBridgeError trackUnavailable("track_unavailable");
const MusicBridgeError commandExpired("native_command_expired");
const MusicBridgeError writeUncertain("native_write_uncertain");

} // namespace

// Steps shared by reads and writes: connected, captured, verified, settled, verified again.
KVCapturedTrack& KVMusicBridge::verifiedCapture(const std::string& trackRef, const Admission& admission) {
    connect();
    const auto found = captures.find(trackRef);
    if (found == captures.end() || !matches(*found->second)) {
        throw trackUnavailable;
    }
    KVCapturedTrack& capture = *found->second;
    if (!capture.settling.waitWithAdmission(admission)) {
        throw commandExpired;
    }
    if (!matches(capture)) {
        throw trackUnavailable;
    }
    return capture;
}

bool KVMusicBridge::favoriteForTrackRef(const std::string& trackRef, const Admission& admission) {
    const Admission admitted = admission ? admission : [] {
        return true;
    };
    try {
        KVCapturedTrack& capture = verifiedCapture(trackRef, admitted);
        if (!admitted()) {
            throw commandExpired;
        }
        const auto favorite = readFavorite(capture);
        if (!favorite) {
            throw MusicBridgeError(mappedError());
        }
        if (!admitted()) {
            throw commandExpired;
        }
        return *favorite;
    } catch (const MusicBridgeError&) {
        throw;
    } catch (...) {
        throw trackUnavailable;
    }
}

bool KVMusicBridge::setFavorite(bool desired, const std::string& trackRef, const Admission& admission) {
    try {
        KVCapturedTrack& capture = verifiedCapture(trackRef, admission);
        if (!admission || !admission()) {
            throw commandExpired;
        }
        capture.settling.markWriteAttempt();
        property(music::propFavorited, *capture.descriptor, desired);
        if (lastError) {
            throw writeUncertain;
        }
        const double start = timing.uptime();
        for (int attempt = 0; attempt < writeReadBacks; ++attempt) {
            if (attempt > 0) {
                timing.sleep(readBackPauseSeconds);
            }
            if (!admission() || timing.uptime() - start > giveUpAfterSeconds || !matches(capture)) {
                break;
            }
            const auto favorite = readFavorite(capture);
            const double elapsed = timing.uptime() - start;
            if (lastError || !favorite || !admission() || elapsed > giveUpAfterSeconds) {
                break;
            }
            if (*favorite == desired && elapsed >= confirmAfterSeconds) {
                return *favorite;
            }
        }
        throw writeUncertain;
    } catch (const MusicBridgeError&) {
        throw;
    } catch (...) {
        throw writeUncertain;
    }
}

} // namespace kavrel
