#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// The MPRIS players present and the one to share: the playing one, else the one whose playback state
// changed last, where appearing on the bus counts as a change. Fed from bus signals and reads; knows
// nothing of the bus itself.
class MprisPlayerRoster {
public:
    // A connection took the name: a new player, or a new process behind a known name. Its state is
    // unknown until statusRead or statusChanged tells it.
    void appeared(const std::string& name, const std::string& owner);
    void vanished(const std::string& name);
    // A PlaybackStatus announced by a connection (signals name their sender's unique name).
    void statusChanged(const std::string& owner, std::string_view status);
    // The answer to reading a new player's state; none when the read failed, which is not retried.
    void statusRead(const std::string& name, std::optional<std::string_view> status);

    // Players whose state has neither been read nor announced.
    std::vector<std::string> unread() const;
    std::optional<std::string> chosen() const;

private:
    struct Player {
        std::string owner;
        std::optional<std::string> status;
        bool known = false;
        std::uint64_t changed = 0;
    };

    std::map<std::string, Player, std::less<>> players;
    std::uint64_t changes = 0;
};

} // namespace kavrel
