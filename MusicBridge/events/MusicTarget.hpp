#pragma once

#include "MusicBridge/events/AEDesc.hpp"

#include <cstdint>
#include <string_view>

namespace kavrel {

// Apple-Event-style status numbers; 0 is success.
using OSStatus = std::int32_t;

namespace status {

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;
inline constexpr OSStatus procNotFound = -600;
inline constexpr OSStatus errAEDescNotFound = -1701;
inline constexpr OSStatus errAEEventNotHandled = -1708;
inline constexpr OSStatus errAETimeout = -1712;
inline constexpr OSStatus errAENoSuchObject = -1728;
inline constexpr OSStatus errAEEventNotPermitted = -1743;
inline constexpr OSStatus errAEEventWouldRequireUserConsent = -1744;
inline constexpr OSStatus errAEWriteDenied = -10003;

} // namespace status

// How an event is sent: wait for the reply (0x03), never interact with the user (0x10).
inline constexpr std::int32_t kAEWaitReplyNeverInteract = 0x03 | 0x10;
// Every exchange with the music app is bounded by 120 ticks of 1/60 s: 2 seconds.
inline constexpr long kMusicTimeoutTicks = 120;

// One event: class and ID, the address of the target application, and its parameters as a record
// (the direct object under '----', a value under 'data').
struct AppleEvent {
    FourCharCode eventClass;
    FourCharCode eventID;
    AEDesc address;
    AEDesc parameters = AEDesc::makeRecord(ae::typeAppleEvent);
};

// The port through which the bridge sends events to the music app and asks about it.
class MusicTarget {
public:
    virtual ~MusicTarget() = default;

    // Whether an application with that bundle identifier is running.
    virtual bool hasRunningApplication(std::string_view bundleIdentifier) = 0;

    // 0 when the user allows automating the addressed application with that event, -1744 when the user
    // has not been asked (and askUserIfNeeded is false), another status when refused or unknown.
    virtual OSStatus determinePermissionToAutomate(const AEDesc& address, FourCharCode eventClass,
                                                   FourCharCode eventID, bool askUserIfNeeded) = 0;

    // Sends one event and waits for its reply record. A non-zero result is a transport failure
    // (time-out -1712, denial -1743, ...); the application's own failures come as 'errn' in the reply.
    virtual OSStatus send(const AppleEvent& event, AEDesc& reply, std::int32_t sendMode,
                          long timeoutTicks) = 0;
};

} // namespace kavrel
