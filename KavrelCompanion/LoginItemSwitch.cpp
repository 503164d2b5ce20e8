#include "KavrelCompanion/LoginItemSwitch.hpp"

#include "CompanionCore/runtime/LoginItem.hpp"

namespace kavrel {

LoginItemSwitch::LoginItemSwitch(LoginItem& item, QObject* parent)
    : QObject(parent), item(item), isEnabled(item.isEnabled()) {}

void LoginItemSwitch::setEnabled(bool on) {
    try {
        item.setEnabled(on);
        noticeText.clear();
    } catch (const LoginItemError&) {
        noticeText = "Couldn’t change the login item. Move the app to Applications and try again.";
    }
    isEnabled = item.isEnabled();
    Q_EMIT changed();
}

} // namespace kavrel
