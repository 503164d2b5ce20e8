#include "Platform/QtClipboard.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QString>

namespace kavrel {

void QtClipboard::setText(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(text));
}

} // namespace kavrel
