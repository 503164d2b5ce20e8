#pragma once

#include <QDBusConnection>
#include <QString>
#include <QThread>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

namespace kavrel {

// A scriptable MPRIS player on the session bus. It has a connection of its own and answers the
// Player interface's properties on a thread of its own, so a caller blocked on a reply does not block
// the player. State and metadata changes are announced with PropertiesChanged, as a real player does;
// the position and the rating are not. Every change is through the bus daemon before the setter returns.
class MprisPlayerDouble {
public:
    // Takes the bus name org.mpris.MediaPlayer2.<suffix> once its state is set.
    MprisPlayerDouble(const QString& suffix, const QString& status, const QVariantMap& metadata = {});
    ~MprisPlayerDouble();
    MprisPlayerDouble(const MprisPlayerDouble&) = delete;
    MprisPlayerDouble& operator=(const MprisPlayerDouble&) = delete;

    void setStatus(const QString& status) { set(QStringLiteral("PlaybackStatus"), status, true); }
    void setMetadata(const QVariantMap& metadata) { set(QStringLiteral("Metadata"), metadata, true); }
    void setPosition(qint64 microseconds) { set(QStringLiteral("Position"), microseconds, false); }
    // A Rating that callers may set too: introspection declares it readwrite.
    void setRating(double rating) { set(QStringLiteral("Rating"), rating, false); }
    std::optional<double> rating() const;
    // Answers reading this property with NotSupported, as browsers do for Position.
    void hide(const QString& property);
    // Whether calls are answered, answered with an error, or left to wait for their time-out.
    enum class Answer { normally, withAnError, never };
    void answer(Answer answer);
    // Announces `count` metadata changes as fast as the bus takes them.
    void flood(int count, const QVariantMap& metadata);
    // Gives up the bus name, as a quitting player does.
    void vanish();

private:
    class Object;
    struct State {
        mutable std::mutex mutex;
        QVariantMap properties;
        Answer answer = Answer::normally;
    };

    void set(const QString& property, const QVariant& value, bool announced);
    void announce(const QString& property, const QVariant& value, bool flushed = true);

    const QString name;
    const QString connectionName;
    std::shared_ptr<State> state;
    QDBusConnection connection;
    QThread thread;
    std::unique_ptr<Object> object;
    bool registered = false;
};

} // namespace kavrel
