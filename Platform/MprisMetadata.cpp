#include "Platform/MprisMetadata.hpp"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

namespace kavrel {
namespace {

const QString noTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

std::optional<QVariantMap> asMap(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        return value.toMap();
    }
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentType() == QDBusArgument::MapType) {
            return qdbus_cast<QVariantMap>(argument);
        }
    }
    return std::nullopt;
}

std::optional<QString> asText(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QString>()) {
        return value.toString();
    }
    return std::nullopt;
}

std::optional<std::string> nonEmpty(const std::optional<QString>& text) {
    if (!text || text->isEmpty()) {
        return std::nullopt;
    }
    return text->toStdString();
}

std::string joinedArtists(const QVariant& value) {
    QStringList names;
    if (value.metaType() == QMetaType::fromType<QStringList>()) {
        names = value.toStringList();
    } else if (const auto single = asText(value)) {
        names.append(*single);
    }
    names.removeAll(QString());
    return names.join(QStringLiteral(", ")).toStdString();
}

double microsecondsToSeconds(const QVariant& value) {
    switch (value.metaType().id()) {
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Double:
        return value.toDouble() / 1e6;
    default:
        return 0;
    }
}

std::optional<std::string> trackIDOf(const QVariant& value) {
    std::optional<QString> path = asText(value); // some players send the path as a plain string
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        path = value.value<QDBusObjectPath>().path();
    }
    if (path == noTrack) {
        return std::nullopt;
    }
    return nonEmpty(path);
}

} // namespace

std::optional<MprisMetadata> MprisMetadata::decode(const QVariant& metadata) {
    const auto map = asMap(metadata);
    if (!map || map->isEmpty()) {
        return std::nullopt;
    }
    MprisMetadata decoded;
    decoded.title = asText(map->value(QStringLiteral("xesam:title"))).value_or(QString()).toStdString();
    decoded.artist = joinedArtists(map->value(QStringLiteral("xesam:artist")));
    if (const auto album = asText(map->value(QStringLiteral("xesam:album")))) {
        decoded.album = album->toStdString();
    }
    decoded.lengthSeconds = microsecondsToSeconds(map->value(QStringLiteral("mpris:length")));
    decoded.trackID = trackIDOf(map->value(QStringLiteral("mpris:trackid")));
    decoded.url = nonEmpty(asText(map->value(QStringLiteral("xesam:url"))));
    decoded.artUrl = nonEmpty(asText(map->value(QStringLiteral("mpris:artUrl"))));
    if (const QVariant rating = map->value(QStringLiteral("xesam:userRating"));
        rating.metaType() == QMetaType::fromType<double>()) {
        decoded.userRating = rating.toDouble();
    }
    return decoded;
}

} // namespace kavrel
