#include "Platform/MpdClient.hpp"
#include "Platform/SigpipeGuard.hpp"

#include <mpd/client.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <new>

namespace kavrel {
namespace {

constexpr const char* stickerType = "song";
// What "sticker get" answers for an unset sticker, with the same code as for an unknown song.
constexpr std::string_view noSuchSticker = "no such sticker";
// "sticker find" of a name no client uses: cheap, and the one way to ask for the sticker database
// that does not depend on a song.
constexpr const char* probeSticker = "kavrel-probe";

struct FreeStatus {
    void operator()(mpd_status* status) const { mpd_status_free(status); }
};
struct FreeSong {
    void operator()(mpd_song* song) const { mpd_song_free(song); }
};
using Song = std::unique_ptr<mpd_song, FreeSong>;

std::string tag(const mpd_song* song, mpd_tag_type type, unsigned index = 0) {
    const char* value = mpd_song_get_tag(song, type, index);
    return value != nullptr ? value : "";
}

// The protocol is line based and libmpdclient quotes but does not refuse line feeds.
bool fitsOnALine(std::initializer_list<std::string_view> arguments) {
    for (auto argument : arguments) {
        if (argument.find('\n') != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

template <typename T> MpdResult<T> unsendable() {
    return {.error = MpdError::refused, .message = "an argument holds a line feed"};
}

} // namespace

std::string MpdAddress::describe() const {
    if (host.starts_with('/') || host.starts_with('@')) {
        return host;
    }
    return host + ":" + std::to_string(port);
}

MpdAddress::Reading MpdAddress::parse(const char* hostVariable, const char* portVariable) {
    MpdAddress address;
    if (hostVariable != nullptr && *hostVariable != '\0') {
        std::string_view host = hostVariable;
        // A leading "@" names an abstract socket, not an empty password.
        if (auto at = host.find('@'); at != std::string_view::npos && at > 0) {
            address.password = host.substr(0, at);
            host.remove_prefix(at + 1);
        }
        if (host.empty()) {
            // MPD_HOST itself is not repeated: it holds the password.
            return {.problem = "MPD_HOST names a password but no host"};
        }
        address.host = host;
    }
    if (portVariable != nullptr && *portVariable != '\0') {
        std::string_view text = portVariable;
        unsigned port = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
        if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
            return {.problem =
                        "MPD_PORT must be a port number from 1 to 65535, not \"" + std::string(text) + "\""};
        }
        address.port = port;
    }
    return {.address = std::move(address)};
}

MpdAddress::Reading MpdAddress::fromEnvironment() {
    return parse(std::getenv("MPD_HOST"), std::getenv("MPD_PORT"));
}

MpdClient::MpdClient(MpdAddress address, std::chrono::milliseconds timeout)
    : address(std::move(address)), timeout(timeout) {}

MpdClient::~MpdClient() {
    if (open != nullptr) {
        mpd_connection_free(open);
    }
}

mpd_connection* MpdClient::connection(MpdError& error, std::string& message) {
    if (open != nullptr) {
        return open;
    }
    open = mpd_connection_new(address.host.c_str(), address.port, static_cast<unsigned>(timeout.count()));
    if (open == nullptr) {
        throw std::bad_alloc();
    }
    if (mpd_connection_get_error(open) == MPD_ERROR_SUCCESS &&
        (address.password.empty() || mpd_run_password(open, address.password.c_str()))) {
        return open;
    }
    error = takeError(message);
    message = "MPD at " + address.describe() + ": " + message;
    // A refused password leaves a usable but unauthorised connection; try again from the start.
    if (open != nullptr) {
        mpd_connection_free(open);
        open = nullptr;
    }
    return nullptr;
}

MpdError MpdClient::takeError(std::string& message) {
    const auto kind = mpd_connection_get_error(open);
    message = mpd_connection_get_error_message(open);
    MpdError error = MpdError::unreachable; // resolver, system, closed and malformed: no MPD to talk to
    if (kind == MPD_ERROR_OOM) {
        throw std::bad_alloc();
    }
    if (kind == MPD_ERROR_TIMEOUT) {
        error = MpdError::timeout;
    } else if (kind == MPD_ERROR_ARGUMENT || kind == MPD_ERROR_STATE) {
        error = MpdError::refused;
    } else if (kind == MPD_ERROR_SERVER) {
        switch (mpd_connection_get_server_error(open)) {
        case MPD_SERVER_ERROR_NO_EXIST:
            error = MpdError::notInDatabase;
            break;
        case MPD_SERVER_ERROR_UNKNOWN_CMD:
            // Of the commands sent here only "sticker" can be missing: "sticker database is disabled".
            error = MpdError::stickersDisabled;
            break;
        default:
            error = MpdError::refused;
            break;
        }
    }
    // Server errors leave the connection usable; anything else ends it, and the next call connects.
    if (!mpd_connection_clear_error(open)) {
        mpd_connection_free(open);
        open = nullptr;
    }
    return error;
}

template <typename T, typename Exchange> MpdResult<T> MpdClient::run(Exchange exchange) {
    // libmpdclient writes without MSG_NOSIGNAL: a server that went away must not end the process.
    const SigpipeGuard guard;
    for (int attempt = 0;; ++attempt) {
        MpdResult<T> result;
        const bool reused = open != nullptr;
        mpd_connection* connected = connection(result.error, result.message);
        if (connected == nullptr) {
            return result;
        }
        T value = exchange(connected);
        if (mpd_connection_get_error(connected) == MPD_ERROR_SUCCESS) {
            result.value = std::move(value);
            return result;
        }
        result.error = takeError(result.message);
        // MPD closes a client that stayed silent for its connection_timeout (60 s by default), so a
        // connection kept over a pause in sharing may be gone: one more try on a fresh one.
        if (!reused || attempt > 0 || result.error != MpdError::unreachable) {
            return result;
        }
    }
}

MpdDone MpdClient::ping() {
    return run<std::monostate>([](mpd_connection* connection) {
        if (mpd_send_command(connection, "ping", nullptr)) {
            mpd_response_finish(connection);
        }
        return std::monostate{};
    });
}

MpdResult<MpdStatus> MpdClient::status() {
    return run<MpdStatus>([](mpd_connection* connection) {
        MpdStatus status;
        std::unique_ptr<mpd_status, FreeStatus> read(mpd_run_status(connection));
        if (read == nullptr) {
            return status;
        }
        switch (mpd_status_get_state(read.get())) {
        case MPD_STATE_PLAY:
            status.state = MpdPlayState::playing;
            break;
        case MPD_STATE_PAUSE:
            status.state = MpdPlayState::paused;
            break;
        default:
            status.state = MpdPlayState::stopped;
            break;
        }
        status.elapsedSeconds = mpd_status_get_elapsed_ms(read.get()) / 1000.0;
        status.durationSeconds = mpd_status_get_total_time(read.get());
        if (int id = mpd_status_get_song_id(read.get()); id >= 0) {
            status.songId = static_cast<unsigned>(id);
        }
        return status;
    });
}

MpdResult<std::optional<MpdSong>> MpdClient::currentSong() {
    return run<std::optional<MpdSong>>([](mpd_connection* connection) -> std::optional<MpdSong> {
        Song read(mpd_run_current_song(connection));
        if (read == nullptr) {
            return std::nullopt;
        }
        MpdSong song{.uri = mpd_song_get_uri(read.get()),
                     .title = tag(read.get(), MPD_TAG_TITLE),
                     .album = tag(read.get(), MPD_TAG_ALBUM),
                     .durationSeconds = mpd_song_get_duration_ms(read.get()) / 1000.0,
                     .id = mpd_song_get_id(read.get())};
        for (unsigned index = 0; mpd_song_get_tag(read.get(), MPD_TAG_ARTIST, index) != nullptr; ++index) {
            song.artists.push_back(tag(read.get(), MPD_TAG_ARTIST, index));
        }
        return song;
    });
}

MpdResult<bool> MpdClient::isInDatabase(std::string_view uri) {
    // Database URIs are relative paths. Asking about a URL or an absolute path would make MPD open it.
    if (uri.find("://") != std::string_view::npos || uri.starts_with('/')) {
        return {.value = false};
    }
    if (!fitsOnALine({uri})) {
        return unsendable<bool>();
    }
    const std::string wanted(uri);
    auto result = run<bool>([&wanted](mpd_connection* connection) {
        bool found = false;
        if (mpd_send_list_meta(connection, wanted.c_str())) {
            // A directory lists its songs, so the one asked for must be among them by name.
            while (Song song{mpd_recv_song(connection)}) {
                found = found || wanted == mpd_song_get_uri(song.get());
            }
            mpd_response_finish(connection);
        }
        return found;
    });
    if (result.error == MpdError::notInDatabase) {
        return {.value = false};
    }
    return result;
}

MpdResult<std::optional<std::string>> MpdClient::sticker(std::string_view uri, std::string_view name) {
    if (!fitsOnALine({uri, name})) {
        return unsendable<std::optional<std::string>>();
    }
    const std::string song(uri);
    const std::string key(name);
    auto result = run<std::optional<std::string>>([&](mpd_connection* connection) {
        std::optional<std::string> value;
        if (mpd_send_sticker_get(connection, stickerType, song.c_str(), key.c_str())) {
            while (mpd_pair* pair = mpd_recv_sticker(connection)) {
                value = pair->value;
                mpd_return_sticker(connection, pair);
            }
            mpd_response_finish(connection);
        }
        return value;
    });
    if (result.error == MpdError::notInDatabase && result.message == noSuchSticker) {
        return {};
    }
    return result;
}

MpdDone MpdClient::setSticker(std::string_view uri, std::string_view name, std::string_view value) {
    if (!fitsOnALine({uri, name, value})) {
        return unsendable<std::monostate>();
    }
    const std::string song(uri);
    const std::string key(name);
    const std::string text(value);
    return run<std::monostate>([&](mpd_connection* connection) {
        mpd_run_sticker_set(connection, stickerType, song.c_str(), key.c_str(), text.c_str());
        return std::monostate{};
    });
}

MpdDone MpdClient::deleteSticker(std::string_view uri, std::string_view name) {
    if (!fitsOnALine({uri, name})) {
        return unsendable<std::monostate>();
    }
    const std::string song(uri);
    const std::string key(name);
    auto result = run<std::monostate>([&](mpd_connection* connection) {
        mpd_run_sticker_delete(connection, stickerType, song.c_str(), key.c_str());
        return std::monostate{};
    });
    // Deleting what is not there has reached the wanted state.
    if (result.error == MpdError::notInDatabase && result.message == noSuchSticker) {
        return {};
    }
    return result;
}

MpdResult<bool> MpdClient::hasStickerDatabase() {
    auto result = run<bool>([](mpd_connection* connection) {
        if (mpd_send_sticker_find(connection, stickerType, "", probeSticker)) {
            while (mpd_pair* pair = mpd_recv_sticker(connection)) {
                mpd_return_sticker(connection, pair);
            }
            mpd_response_finish(connection);
        }
        return true;
    });
    if (result.error == MpdError::stickersDisabled) {
        return {.value = false, .message = std::move(result.message)};
    }
    return result;
}

} // namespace kavrel
