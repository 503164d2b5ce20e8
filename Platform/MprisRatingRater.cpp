#include "Platform/MprisRatingRater.hpp"

#include "Platform/MprisBus.hpp"

#include <QXmlStreamReader>

namespace kavrel {

bool MprisRatingRater::offeredBy(const QDBusConnection& connection, const QString& player, int timeoutMs) {
    const MprisBus::Reply reply = MprisBus::call(connection, player, MprisBus::objectPath,
                                                 QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                 QStringLiteral("Introspect"), {}, timeoutMs);
    QXmlStreamReader xml(reply.status == status::noErr ? reply.value.toString() : QString());
    QString interface;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        const auto attributes = xml.attributes();
        if (!xml.isStartElement()) {
            continue;
        }
        if (xml.name() == QStringLiteral("interface")) {
            interface = attributes.value(QStringLiteral("name")).toString();
        } else if (xml.name() == QStringLiteral("property") && interface == MprisBus::playerInterface &&
                   attributes.value(QStringLiteral("name")) == QStringLiteral("Rating") &&
                   attributes.value(QStringLiteral("access")).contains(QStringLiteral("write"))) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> MprisRatingRater::keyOf(const MprisMetadata& metadata) {
    return metadata.trackID ? metadata.trackID : metadata.url;
}

// The rating is read between two reads of the track, so that it belongs to the track named.
CurrentSongRater::Song MprisRatingRater::current() {
    const auto song = [&]() -> Song {
        const MprisBus::Reply reply =
            MprisBus::playerProperty(connection, player, QStringLiteral("Metadata"), timeoutMs);
        const auto metadata =
            reply.status == status::noErr ? MprisMetadata::decode(reply.value) : std::nullopt;
        return {reply.status, metadata ? keyOf(*metadata).value_or("") : "", std::nullopt};
    };
    Song before = song();
    const MprisBus::Reply rating =
        MprisBus::playerProperty(connection, player, QStringLiteral("Rating"), timeoutMs);
    const Song after = song();
    if (before.status == status::noErr && after.status == status::noErr && before.key != after.key) {
        return {status::errAENoSuchObject, {}, {}};
    }
    before.status = before.status != status::noErr ? before.status : after.status;
    if (rating.status == status::noErr && rating.value.canConvert<double>()) {
        before.rating = rating.value.toDouble();
    }
    return before;
}

OSStatus MprisRatingRater::rate(double rating) {
    return MprisBus::setPlayerProperty(connection, player, QStringLiteral("Rating"), rating, timeoutMs);
}

} // namespace kavrel
