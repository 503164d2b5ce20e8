#pragma once

#include "Platform/FavoriteChannel.hpp"
#include "Platform/MprisMetadata.hpp"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>
#include <string>

namespace kavrel {

// How a player on the bus keeps favourites, when it does: Rhythmbox and Quod Libet through their own
// interfaces, any other player through a writable MPRIS Rating. Each names a track its own way.
struct MprisFavorites {
    std::shared_ptr<FavoriteChannel> channel;
    std::optional<std::string> (*keyOf)(const MprisMetadata& metadata) = nullptr;

    // Asks the player behind the bus name (introspection for players without an interface of
    // their own); none for a player that cannot write favourites.
    static std::optional<MprisFavorites> of(const QDBusConnection& connection, const QString& busName,
                                            int timeoutMs);
};

} // namespace kavrel
