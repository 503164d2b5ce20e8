#pragma once

#include "Platform/FavoriteChannel.hpp"

#include <QDBusConnection>

namespace kavrel {

// Rhythmbox's library (org.gnome.Rhythmbox3 RhythmDB), keyed by the song's URI: GetEntryProperties
// gives its "rating" (0 to 5, 0 unrated) and fails with FileNotFound for a URI not in the library;
// SetEntryProperties writes it. Rhythmbox announces no rating change, so every read asks again.
class RhythmboxFavorites final : public FavoriteChannel {
public:
    RhythmboxFavorites(const QDBusConnection& connection, int timeoutMs)
        : connection(connection), timeoutMs(timeoutMs) {}

    OSStatus locate(const std::string& uri) override;
    Read read(const std::string& uri) override;
    OSStatus write(const std::string& uri, bool favorite) override;

private:
    QDBusConnection connection;
    int timeoutMs;
};

} // namespace kavrel
