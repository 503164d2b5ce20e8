#pragma once

#include "Platform/FavoriteChannel.hpp"
#include "Platform/MpdClient.hpp"

namespace kavrel {

// MPD's favourites are song stickers, keyed by the song's URI in its database, in the conventions
// its clients share: `rating` 0 to 10 (10 is five stars) and `like` 0 to 2 (2 is liked). Either at
// the top counts; a favourite is written as rating 10, and clearing deletes whichever is at the top.
class MpdFavorites final : public FavoriteChannel {
public:
    explicit MpdFavorites(MpdClient& client) : client(client) {}

    // The event layer's status for a failure of the client.
    static OSStatus statusOf(MpdError error);

    OSStatus locate(const std::string& uri) override;
    Read read(const std::string& uri) override;
    OSStatus write(const std::string& uri, bool favorite) override;

private:
    struct Stickers {
        OSStatus status = status::noErr;
        bool topRating = false;
        bool liked = false;
    };
    Stickers stickers(const std::string& uri);

    MpdClient& client;
};

} // namespace kavrel
