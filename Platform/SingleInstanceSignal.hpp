#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;

namespace kavrel {

// How a second instance asks the running one to show its settings: the D-Bus signal
// "com.quartzfield.kavrel.showSettings" on the session bus, that is, member "showSettings" of the
// interface "com.quartzfield.kavrel", sent from the object path "/com/quartzfield/kavrel/Companion"
// without a destination (a broadcast). Its one string argument is the second launch's activation token
// (empty when it has none): a Wayland compositor raises the running companion's window only with it.
// Signals without arguments are heard too, so that from a shell
//   dbus-send --session --type=signal /com/quartzfield/kavrel/Companion com.quartzfield.kavrel.showSettings
// shows the settings.
//
// Needs a QCoreApplication; the listener calls back on its thread.
class SingleInstanceSignal {
public:
    static constexpr const char* objectPath = "/com/quartzfield/kavrel/Companion";
    static constexpr const char* interfaceName = "com.quartzfield.kavrel";
    static constexpr const char* memberName = "showSettings";

    using Listener = std::function<void(const std::string& activationToken)>;

    // The token the desktop gave this launch: XDG_ACTIVATION_TOKEN (Wayland), else DESKTOP_STARTUP_ID
    // (X11), else empty.
    static std::string launchActivationToken();

    // Sends the signal and waits until the bus daemon has taken it, so that the caller may exit at
    // once. False when there is no session bus or the bus did not confirm.
    static bool emitShowSettings(const std::string& activationToken);

    // Listens until destroyed, calling `onShowSettings` for every such signal from any sender.
    explicit SingleInstanceSignal(Listener onShowSettings);
    ~SingleInstanceSignal();
    SingleInstanceSignal(const SingleInstanceSignal&) = delete;
    SingleInstanceSignal& operator=(const SingleInstanceSignal&) = delete;

    // False when the session bus could not be reached or refused the subscription; nothing arrives then.
    bool listening() const noexcept { return subscribed; }

private:
    std::unique_ptr<QObject> receiver;
    bool subscribed = false;
};

} // namespace kavrel
