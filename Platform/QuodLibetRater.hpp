#pragma once

#include "Platform/CurrentSongFavorites.hpp"

#include <QDBusConnection>

namespace kavrel {

// Quod Libet's own interface (net.sacredchao.QuodLibet): CurrentSong names the song by its file
// (~filename) and gives its rating (~#rating, 0 to 1); Rate rates the current song. Unrated is 0.5.
class QuodLibetRater final : public CurrentSongRater {
public:
    QuodLibetRater(const QDBusConnection& connection, int timeoutMs)
        : connection(connection), timeoutMs(timeoutMs) {}

    Song current() override;
    OSStatus rate(double rating) override;
    double unrated() const override { return 0.5; }

private:
    QDBusConnection connection;
    int timeoutMs;
};

} // namespace kavrel
