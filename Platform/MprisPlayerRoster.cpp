#include "Platform/MprisPlayerRoster.hpp"

namespace kavrel {

void MprisPlayerRoster::appeared(const std::string& name, const std::string& owner) {
    const auto found = players.find(name);
    if (found != players.end() && found->second.owner == owner) {
        return; // the listing and the signal can both report one appearance
    }
    players.insert_or_assign(name, Player{owner, std::nullopt, false, ++changes});
}

void MprisPlayerRoster::vanished(const std::string& name) {
    players.erase(name);
}

void MprisPlayerRoster::statusChanged(const std::string& owner, std::string_view status) {
    for (auto& [name, player] : players) {
        if (player.owner != owner) {
            continue;
        }
        player.known = true;
        if (player.status != status) {
            player.status = std::string(status);
            player.changed = ++changes;
        }
    }
}

void MprisPlayerRoster::statusRead(const std::string& name, std::optional<std::string_view> status) {
    const auto found = players.find(name);
    if (found == players.end() || found->second.known) {
        return; // gone meanwhile, or a signal already told
    }
    found->second.known = true;
    if (status) {
        found->second.status = std::string(*status);
    }
}

std::vector<std::string> MprisPlayerRoster::unread() const {
    std::vector<std::string> names;
    for (const auto& [name, player] : players) {
        if (!player.known) {
            names.push_back(name);
        }
    }
    return names;
}

std::optional<std::string> MprisPlayerRoster::chosen() const {
    const std::pair<const std::string, Player>* best = nullptr;
    for (const auto& entry : players) {
        const bool playing = entry.second.status == "Playing";
        const bool bestPlaying = best != nullptr && best->second.status == "Playing";
        if (best == nullptr || playing > bestPlaying ||
            (playing == bestPlaying && entry.second.changed > best->second.changed)) {
            best = &entry;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return best->first;
}

} // namespace kavrel
