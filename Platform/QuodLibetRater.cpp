#include "Platform/QuodLibetRater.hpp"

#include "Platform/MprisBus.hpp"

#include <QDBusArgument>
#include <QMap>

namespace kavrel {
namespace {

const QString service = QStringLiteral("net.sacredchao.QuodLibet");
const QString path = QStringLiteral("/net/sacredchao/QuodLibet");

MprisBus::Reply call(const QDBusConnection& connection, const QString& method, const QVariantList& arguments,
                     int timeoutMs) {
    return MprisBus::call(connection, service, path, service, method, arguments, timeoutMs,
                          method == QStringLiteral("Rate"));
}

} // namespace

CurrentSongRater::Song QuodLibetRater::current() {
    const MprisBus::Reply reply = call(connection, QStringLiteral("CurrentSong"), {}, timeoutMs);
    if (reply.status != status::noErr) {
        return {reply.status, {}, {}};
    }
    QMap<QString, QString> song;
    if (reply.value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return {status::errAEEventNotHandled, {}, {}};
    }
    reply.value.value<QDBusArgument>() >> song;
    Song current{status::noErr, song.value(QStringLiteral("~filename")).toStdString(), std::nullopt};
    // A song never rated has no ~#rating.
    const QString rating = song.value(QStringLiteral("~#rating"), QString::number(unrated()));
    bool number = false;
    if (const double value = rating.toDouble(&number); number) {
        current.rating = value;
    }
    return current;
}

OSStatus QuodLibetRater::rate(double rating) {
    return call(connection, QStringLiteral("Rate"), {QString::number(rating, 'f', 1)}, timeoutMs).status;
}

} // namespace kavrel
