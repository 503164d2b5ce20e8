#include "KavrelCompanion/LoginItemSwitch.hpp"

#include "CompanionCore/runtime/LoginItem.hpp"
#include "CompanionCore/runtime/PlaceWording.hpp"

namespace kavrel {

LoginItemSwitch::LoginItemSwitch(LoginItem& item, QObject* parent)
    : QObject(parent), item(item), isEnabled(item.isEnabled()) {}

void LoginItemSwitch::setEnabled(bool on) {
    try {
        item.setEnabled(on);
        noticeText.clear();
    } catch (const LoginItemError&) {
        noticeText = QString::fromUtf8(PlaceWording::loginItemFailed.data(),
                                       static_cast<qsizetype>(PlaceWording::loginItemFailed.size()));
    }
    isEnabled = item.isEnabled();
    Q_EMIT changed();
}

} // namespace kavrel
