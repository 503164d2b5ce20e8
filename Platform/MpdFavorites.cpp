#include "Platform/MpdFavorites.hpp"

#include <charconv>

namespace kavrel {
namespace {

constexpr double topRating = 10;
constexpr std::string_view likedValue = "2";

std::optional<double> number(const std::optional<std::string>& text) {
    double value = 0;
    if (!text || std::from_chars(text->data(), text->data() + text->size(), value).ec != std::errc()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

OSStatus MpdFavorites::statusOf(MpdError error) {
    switch (error) {
    case MpdError::none:
        return status::noErr;
    case MpdError::unreachable:
        return status::procNotFound;
    case MpdError::timeout:
        return status::errAETimeout;
    case MpdError::notInDatabase:
        return status::errAENoSuchObject;
    case MpdError::stickersDisabled:
        return status::errAEWriteDenied;
    case MpdError::refused:
        break;
    }
    return status::errAEEventNotHandled;
}

OSStatus MpdFavorites::locate(const std::string& uri) {
    const auto found = client.isInDatabase(uri);
    if (!found.ok()) {
        return statusOf(found.error);
    }
    return found.value ? status::noErr : status::errAENoSuchObject;
}

MpdFavorites::Stickers MpdFavorites::stickers(const std::string& uri) {
    const auto rating = client.sticker(uri, "rating");
    const auto like = client.sticker(uri, "like");
    if (!rating.ok() || !like.ok()) {
        return {statusOf(rating.ok() ? like.error : rating.error), false, false};
    }
    const auto value = number(rating.value);
    return {status::noErr, value && isTopRating(*value, topRating), like.value == likedValue};
}

FavoriteChannel::Read MpdFavorites::read(const std::string& uri) {
    const Stickers found = stickers(uri);
    return {found.status, found.topRating || found.liked};
}

OSStatus MpdFavorites::write(const std::string& uri, bool favorite) {
    if (favorite) {
        return statusOf(client.setSticker(uri, "rating", "10").error);
    }
    const Stickers found = stickers(uri);
    if (found.status != status::noErr) {
        return found.status;
    }
    if (found.topRating) {
        if (const OSStatus deleted = statusOf(client.deleteSticker(uri, "rating").error)) {
            return deleted;
        }
    }
    return found.liked ? statusOf(client.deleteSticker(uri, "like").error) : status::noErr;
}

} // namespace kavrel
