#include "Platform/QtWorkspace.hpp"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace kavrel {

bool QtWorkspace::open(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty()) {
        return false;
    }
    const QString scheme = parsed.scheme();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http")) {
        return false;
    }
    return QDesktopServices::openUrl(parsed);
}

} // namespace kavrel
