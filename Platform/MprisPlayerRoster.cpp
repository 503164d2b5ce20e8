#include "Platform/MprisPlayerRoster.hpp"

#include "Platform/MprisIdentity.hpp"

namespace kavrel {

void MprisPlayerRoster::appeared(const std::string& name, const std::string& owner) {
    std::lock_guard lock(mutex);
    const auto found = players.find(name);
    if (found != players.end() && found->second.owner == owner) {
        return; // the listing and the signal can both report one appearance
    }
    players.insert_or_assign(name, Player{owner, std::nullopt, false, ++changes});
}

void MprisPlayerRoster::vanished(const std::string& name) {
    std::lock_guard lock(mutex);
    players.erase(name);
}

void MprisPlayerRoster::changeStatus(Player& player, std::string_view status) {
    player.known = true;
    if (player.status != status) {
        player.status = std::string(status);
        player.changed = ++changes;
    }
}

void MprisPlayerRoster::statusChanged(const std::string& owner, std::string_view status) {
    std::lock_guard lock(mutex);
    for (auto& [name, player] : players) {
        if (player.owner == owner && !owner.empty()) {
            changeStatus(player, status);
        }
    }
}

void MprisPlayerRoster::statusRead(const std::string& name, std::optional<std::string_view> status) {
    std::lock_guard lock(mutex);
    const auto found = players.find(name);
    if (found == players.end() || found->second.known) {
        return; // gone meanwhile, or a signal already told
    }
    found->second.known = true;
    if (status) {
        found->second.status = std::string(*status);
    }
}

void MprisPlayerRoster::direct(const std::string& player, std::optional<std::string_view> status) {
    std::lock_guard lock(mutex);
    if (!status) {
        players.erase(player);
        return;
    }
    const auto [found, added] = players.try_emplace(player, Player{{}, std::nullopt, true, ++changes});
    changeStatus(found->second, *status);
}

std::vector<std::string> MprisPlayerRoster::unread() const {
    std::lock_guard lock(mutex);
    std::vector<std::string> names;
    for (const auto& [name, player] : players) {
        if (!player.known) {
            names.push_back(name);
        }
    }
    return names;
}

bool MprisPlayerRoster::bridgesDirectPlayer(const std::string& name) const {
    const auto direct = players.find(MprisIdentity::playerOf(name));
    return direct != players.end() && direct->first != name && direct->second.owner.empty();
}

std::optional<MprisPlayerRoster::Choice> MprisPlayerRoster::chosen() const {
    std::lock_guard lock(mutex);
    const std::pair<const std::string, Player>* best = nullptr;
    for (const auto& entry : players) {
        if (bridgesDirectPlayer(entry.first)) {
            continue;
        }
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
    return Choice{best->first, best->second.owner};
}

} // namespace kavrel
