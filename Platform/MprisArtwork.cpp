#include "Platform/MprisArtwork.hpp"

#include <QString>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace kavrel::MprisArtwork {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

std::optional<std::string> localPath(std::string_view artUrl) {
    const QUrl url(QString::fromUtf8(artUrl.data(), static_cast<qsizetype>(artUrl.size())), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QStringLiteral("file") ||
        !(url.host().isEmpty() || url.host() == QStringLiteral("localhost"))) {
        return std::nullopt;
    }
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/'))) {
        return std::nullopt;
    }
    return path.toStdString();
}

} // namespace

std::optional<std::vector<std::uint8_t>> readLocalFile(std::string_view artUrl, std::size_t limit) {
    const auto path = localPath(artUrl);
    if (!path) {
        return std::nullopt;
    }
    // Non-blocking so that opening a FIFO cannot hang the artwork queue; the type is checked on the
    // open descriptor, so the file cannot be swapped between the check and the read.
    const Descriptor file(::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) > limit) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(status.st_size));
    std::array<std::uint8_t, 64 * 1024> chunk;
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        if (data.size() + static_cast<std::size_t>(got) > limit) {
            return std::nullopt; // grew since fstat
        }
        data.insert(data.end(), chunk.begin(), chunk.begin() + got);
    }
    if (data.empty()) {
        return std::nullopt;
    }
    return data;
}

} // namespace kavrel::MprisArtwork
