#pragma once

#include "Platform/MpdClient.hpp"
#include "platform/ScratchDirectory.hpp"

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace kavrel {

struct MpdServerOptions {
    bool stickers = true; // false: no sticker_file, every sticker command is refused
    // Not empty: clients without it may only read, so stickers need it.
    std::string password = "";
};

// A private MPD for tests, with tone.flac, a 30-second tagged tone, in its database (packages mpd mpc sox
// flac): its configuration, music directory, database and Unix socket live in a scratch directory, and the
// server lives as long as the object.
class MpdServer {
public:
    // Whether mpd, mpc, sox and metaflac are installed.
    static bool available();

    // Generates the tagged tone, starts the server, waits for its socket and fills its database.
    // Throws std::runtime_error, with the server's log, when that fails.
    explicit MpdServer(MpdServerOptions options = {});
    ~MpdServer();
    MpdServer(const MpdServer&) = delete;
    MpdServer& operator=(const MpdServer&) = delete;

    // With the password, when there is one.
    MpdAddress address() const { return {.host = socket().string(), .password = options.password}; }
    std::filesystem::path socket() const { return directory.path() / "socket"; }

    // Queues the file and plays it, repeating, and waits until it plays.
    void play();
    // mpc against this server with these (shell-quoted) arguments: what it wrote on standard output and
    // standard error, without the last line feed.
    std::string mpc(const std::string& arguments) const;

    // Starts the server again on the same socket and database after stop().
    void start();
    void stop();
    // A frozen server (SIGSTOP) still accepts connections and answers nothing.
    void freeze(bool frozen);

private:
    MpdServerOptions options;
    ScratchDirectory directory;
    pid_t pid = -1;
};

} // namespace kavrel
