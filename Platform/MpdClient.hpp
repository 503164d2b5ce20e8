#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct mpd_connection;

namespace kavrel {

// Where the MPD server listens, read from $MPD_HOST and $MPD_PORT the way mpc reads them.
struct MpdAddress {
    // A host name, an absolute Unix socket path, or "@name" for an abstract socket.
    std::string host = "localhost";
    unsigned port = 6600; // TCP only
    // From "password@host"; empty for none. Sent after each connect and never shown.
    std::string password{};

    // Host and port for messages, without the password.
    std::string describe() const;

    struct Reading;
    // The variables' values, null when unset. An empty MPD_HOST counts as unset; MPD_PORT must be a
    // port number from 1 to 65535.
    static Reading parse(const char* hostVariable, const char* portVariable);
    static Reading fromEnvironment();
};

// An address, or why the environment gives none.
struct MpdAddress::Reading {
    std::optional<MpdAddress> address{};
    std::string problem{};
};

enum class MpdError {
    none,
    unreachable,      // no server at the address, or the connection was lost
    timeout,          // the server did not answer within the time-out
    notInDatabase,    // the song URI is not in MPD's database (played by URL, or removed)
    stickersDisabled, // the server runs without sticker_file: stickers are read-only
    refused,          // any other refusal of the server: wrong password, no permission, bad argument
};

// A value or the failure that kept it from us. The message is the server's or libmpdclient's own
// words, for diagnostics only: it never reaches the user or the connector.
template <typename T> struct MpdResult {
    T value{};
    MpdError error = MpdError::none;
    std::string message{};

    bool ok() const { return error == MpdError::none; }
};
using MpdDone = MpdResult<std::monostate>;

enum class MpdPlayState { stopped, playing, paused };

struct MpdStatus {
    MpdPlayState state = MpdPlayState::stopped;
    double elapsedSeconds = 0;
    double durationSeconds = 0;       // whole seconds as MPD's status gives them; 0 when unknown
    std::optional<unsigned> songId{}; // the current song's id in the queue, none when there is none
};

struct MpdSong {
    std::string uri{}; // the song's URI in MPD's database, or the URL it was played from
    std::string title{};
    std::vector<std::string> artists{}; // every Artist tag, in order
    std::string album{};
    double durationSeconds = 0; // 0 when unknown (a stream)
    unsigned id = 0;            // its id in the queue
};

// One connection to MPD, used from one thread (the music queue). Every call is bounded by the
// time-out; a lost connection is dropped and the next call connects again, so a restarted server
// is found without any help.
class MpdClient {
public:
    explicit MpdClient(MpdAddress address, std::chrono::milliseconds timeout = std::chrono::seconds(2));
    ~MpdClient();
    MpdClient(const MpdClient&) = delete;
    MpdClient& operator=(const MpdClient&) = delete;

    // Connects when needed and exchanges one command.
    MpdDone ping();
    MpdResult<MpdStatus> status();
    // None when the queue has no current song.
    MpdResult<std::optional<MpdSong>> currentSong();
    // Whether the URI names a song of the database, the only songs that can carry stickers.
    MpdResult<bool> isInDatabase(std::string_view uri);

    // Song stickers. An unset sticker reads as none, and deleting it succeeds.
    MpdResult<std::optional<std::string>> sticker(std::string_view uri, std::string_view name);
    MpdDone setSticker(std::string_view uri, std::string_view name, std::string_view value);
    MpdDone deleteSticker(std::string_view uri, std::string_view name);
    // False, with the server's reason in the message, when the server has no sticker database. A
    // server that keeps stickers from this client (a password without the admin permission) answers
    // refused.
    MpdResult<bool> hasStickerDatabase();

private:
    // Null with the failure filled in when no connection can be made.
    mpd_connection* connection(MpdError& error, std::string& message);
    // Reads the connection's error and drops the connection when it cannot be used any more.
    MpdError takeError(std::string& message);
    // Runs one exchange on a connection, with the failure read back from libmpdclient.
    template <typename T, typename Exchange> MpdResult<T> run(Exchange exchange);

    MpdAddress address;
    std::chrono::milliseconds timeout;
    mpd_connection* open = nullptr;
};

} // namespace kavrel
