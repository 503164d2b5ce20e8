#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// The players present and the one to share: the playing one, else the one whose playback state
// changed last, where appearing counts as a change. Players come from the bus (MPRIS names, fed from
// its signals and reads) or are reached directly (MPD through its own protocol); a player reached
// directly is one player with its MPRIS bridge, whose bus name then never counts. Knows nothing of
// the bus itself. Thread-safe: the bus's signals and the reader feed it from different threads.
class MprisPlayerRoster {
public:
    struct Choice {
        std::string name;
        // The bus connection behind the name; empty for a player reached directly.
        std::string owner;
    };

    // A connection took the name: a new player, or a new process behind a known name. Its state is
    // unknown until statusRead or statusChanged tells it.
    void appeared(const std::string& name, const std::string& owner);
    void vanished(const std::string& name);
    // A PlaybackStatus announced by a connection (signals name their sender's unique name).
    void statusChanged(const std::string& owner, std::string_view status);
    // The answer to reading a new player's state; none when the read failed, which is not retried.
    void statusRead(const std::string& name, std::optional<std::string_view> status);
    // The state of a player reached directly, as polled; none when it is not there.
    void direct(const std::string& player, std::optional<std::string_view> status);

    // Players whose state has neither been read nor announced.
    std::vector<std::string> unread() const;
    std::optional<Choice> chosen() const;

private:
    struct Player {
        std::string owner;
        std::optional<std::string> status;
        bool known = false;
        std::uint64_t changed = 0;
    };

    void changeStatus(Player& player, std::string_view status);
    bool bridgesDirectPlayer(const std::string& name) const;

    mutable std::mutex mutex;
    std::map<std::string, Player, std::less<>> players;
    std::uint64_t changes = 0;
};

} // namespace kavrel
