#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"

#include <QObject>

#include <chrono>
#include <functional>

namespace kavrel {

class MainLoop;

// Whether the desktop shows a tray. A panel may start after an autostarted companion, or stop while it
// runs, so the answer is asked again while someone follows it (the open settings window) instead of
// once. Asking costs a round trip to the display or the session bus, so nothing is asked while nobody
// follows.
class TrayPresence final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool available READ available NOTIFY availableChanged)

public:
    using Probe = std::function<bool()>;
    static constexpr std::chrono::seconds interval{2};

    // `probe` answers whether a tray is there now; by default Qt's own answer.
    explicit TrayPresence(MainLoop& loop, Probe probe = {}, QObject* parent = nullptr);

    bool available() const { return present; }
    // Asks again now, and every interval while `on`.
    void follow(bool on);

Q_SIGNALS:
    void availableChanged();

private:
    void refresh();

    MainLoop& loop;
    Probe probe;
    bool present;
    Cancellable polling;
};

} // namespace kavrel
