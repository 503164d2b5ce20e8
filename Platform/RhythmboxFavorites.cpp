#include "Platform/RhythmboxFavorites.hpp"

#include "Platform/MprisBus.hpp"

#include <QDBusArgument>
#include <QVariantMap>

namespace kavrel {
namespace {

const QString service = QStringLiteral("org.gnome.Rhythmbox3");
const QString path = QStringLiteral("/org/gnome/Rhythmbox3/RhythmDB");
const QString interface = QStringLiteral("org.gnome.Rhythmbox3.RhythmDB");
constexpr double topRating = 5;

} // namespace

OSStatus RhythmboxFavorites::locate(const std::string& uri) {
    return read(uri).status;
}

FavoriteChannel::Read RhythmboxFavorites::read(const std::string& uri) {
    const MprisBus::Reply reply =
        MprisBus::call(connection, service, path, interface, QStringLiteral("GetEntryProperties"),
                       {QString::fromStdString(uri)}, timeoutMs);
    if (reply.status != status::noErr) {
        return {reply.status, false};
    }
    if (reply.value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return {status::errAEEventNotHandled, false};
    }
    const auto properties = qdbus_cast<QVariantMap>(reply.value.value<QDBusArgument>());
    const QVariant rating = properties.value(QStringLiteral("rating"));
    if (!rating.canConvert<double>()) {
        return {status::errAEEventNotHandled, false};
    }
    return {status::noErr, isTopRating(rating.toDouble(), topRating)};
}

OSStatus RhythmboxFavorites::write(const std::string& uri, bool favorite) {
    if (!favorite) {
        const Read now = read(uri);
        if (now.status != status::noErr || !now.favorite) {
            return now.status; // only a top rating is lowered
        }
    }
    const QVariantMap properties{{QStringLiteral("rating"), favorite ? topRating : 0.0}};
    return MprisBus::call(connection, service, path, interface, QStringLiteral("SetEntryProperties"),
                          {QString::fromStdString(uri), properties}, timeoutMs, true)
        .status;
}

} // namespace kavrel
