#pragma once

#include "Platform/CurrentSongFavorites.hpp"
#include "Platform/MprisMetadata.hpp"

#include <QDBusConnection>
#include <QString>

namespace kavrel {

// An MPRIS player whose Player interface has a writable Rating (0 to 1) for the current track, as
// later Strawberry releases offer. The song's name is its track id, else its URL.
class MprisRatingRater final : public CurrentSongRater {
public:
    MprisRatingRater(const QDBusConnection& connection, const QString& player, int timeoutMs)
        : connection(connection), player(player), timeoutMs(timeoutMs) {}

    // Whether the player's introspection data declare Rating writable.
    static bool offeredBy(const QDBusConnection& connection, const QString& player, int timeoutMs);
    static std::optional<std::string> keyOf(const MprisMetadata& metadata);

    Song current() override;
    OSStatus rate(double rating) override;
    double unrated() const override { return 0; }

private:
    QDBusConnection connection;
    QString player;
    int timeoutMs;
};

} // namespace kavrel
