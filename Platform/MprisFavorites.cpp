#include "Platform/MprisFavorites.hpp"

#include "Platform/CurrentSongFavorites.hpp"
#include "Platform/MprisIdentity.hpp"
#include "Platform/MprisRatingRater.hpp"
#include "Platform/QuodLibetRater.hpp"
#include "Platform/RhythmboxFavorites.hpp"

#include <QUrl>

namespace kavrel {
namespace {

std::optional<std::string> urlOf(const MprisMetadata& metadata) {
    return metadata.url;
}

// Quod Libet names songs by their file; its MPRIS URL is that file's URL.
std::optional<std::string> fileOf(const MprisMetadata& metadata) {
    const QUrl url(QString::fromStdString(metadata.url.value_or("")));
    if (!url.isLocalFile()) {
        return std::nullopt;
    }
    return url.toLocalFile().toStdString();
}

} // namespace

std::optional<MprisFavorites> MprisFavorites::of(const QDBusConnection& connection, const QString& busName,
                                                 int timeoutMs) {
    const std::string player = MprisIdentity::playerOf(busName.toStdString());
    if (player == "rhythmbox") {
        return MprisFavorites{std::make_shared<RhythmboxFavorites>(connection, timeoutMs), urlOf};
    }
    if (player == "quodlibet") {
        return MprisFavorites{
            std::make_shared<CurrentSongFavorites>(std::make_unique<QuodLibetRater>(connection, timeoutMs)),
            fileOf};
    }
    if (MprisRatingRater::offeredBy(connection, busName, timeoutMs)) {
        return MprisFavorites{std::make_shared<CurrentSongFavorites>(
                                  std::make_unique<MprisRatingRater>(connection, busName, timeoutMs)),
                              MprisRatingRater::keyOf};
    }
    return std::nullopt;
}

} // namespace kavrel
