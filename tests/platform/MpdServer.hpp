#pragma once

#include "Platform/MpdClient.hpp"
#include "platform/ScratchDirectory.hpp"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

// Real players for tests: a private MPD here, and what the players of the music source tests share.
namespace kavrel {

// Runs the shell command: what it wrote on standard output and standard error, without the last line
// feed. Throws with that text when it fails and must not.
inline std::string shell(const std::string& command, bool mustSucceed = true) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char chunk[4096];
    while (std::size_t count = pipe != nullptr ? std::fread(chunk, 1, sizeof chunk, pipe) : 0) {
        output.append(chunk, count);
    }
    if ((pipe == nullptr || ::pclose(pipe) != 0) && mustSucceed) {
        throw std::runtime_error(command + " failed: " + output);
    }
    return output.ends_with('\n') ? output.substr(0, output.size() - 1) : output;
}

// Whether all these programs (separated by spaces) are installed; a test skips otherwise.
inline bool installed(const std::string& programs) {
    return std::system(("for p in " + programs + "; do command -v $p >/dev/null || exit 1; done").c_str()) ==
           0;
}

// A 60-second tone tagged "Test Tone", "Sine Ensemble", "Waveforms" at the path (sox and metaflac).
inline void makeTone(const std::string& path) {
    const std::string tone = "'" + path + "'"; // our paths hold no quote
    shell("sox -n -r 44100 -c 2 " + tone + " synth 60 sine 440 && metaflac --set-tag='TITLE=Test Tone' " +
          "--set-tag='ARTIST=Sine Ensemble' --set-tag=ALBUM=Waveforms " + tone);
}

struct MpdServerOptions {
    bool stickers = true; // false: no sticker_file, every sticker command is refused
    // Not empty: clients without it may only read, so stickers need it.
    std::string password = "";
};

// A private MPD (packages mpd mpc sox flac) with tone.flac in its database: its configuration, music,
// database and Unix socket live in a scratch directory, and the server lives as long as the object.
// Throws std::runtime_error, with the server's log, when it does not start.
class MpdServer {
public:
    explicit MpdServer(MpdServerOptions options = {}) : options(std::move(options)) {
        const auto root = directory.path();
        std::filesystem::create_directory(root / "music");
        makeTone(root / "music" / "tone.flac");
        // A path streams in double quotes, as mpd.conf wants it.
        std::ofstream configuration(root / "mpd.conf");
        configuration << "music_directory " << root / "music"
                      << "\ndb_file " << root / "database"
                      << "\nstate_file " << root / "state"
                      << "\npid_file " << root / "pid"
                      << "\nlog_file " << root / "log"
                      << "\nbind_to_address " << root / "socket"
                      << "\nauto_update \"no\"\n"
                      << "audio_output {\n type \"null\"\n name \"null\"\n sync \"yes\"\n}\n";
        if (!this->options.password.empty()) {
            configuration << "password \"" << this->options.password << "@read,add,control,admin\"\n"
                          << "default_permissions \"read\"\n";
        }
        if (this->options.stickers) {
            configuration << "sticker_file " << root / "sticker.sql"
                          << "\n";
        }
        configuration.close();
        start();
        mpc("--wait update", true);
    }
    ~MpdServer() { stop(); }

    // With the password, when there is one.
    MpdAddress address() const {
        return {.host = (directory.path() / "socket").string(), .password = options.password};
    }

    // Queues the tone and plays it, repeating.
    void play() {
        for (const char* step : {"-q repeat on", "-q add tone.flac", "-q play"}) {
            mpc(step, true);
        }
    }
    // mpc against this server with these (shell-quoted) arguments, as shell() runs it.
    std::string mpc(const std::string& arguments, bool mustSucceed = false) const {
        const auto password = options.password.empty() ? "" : options.password + "@";
        return shell("mpc --host='" + password + address().host + "' " + arguments, mustSucceed);
    }

    // Starts the server again on the same socket and database after stop().
    void start() {
        const std::string configuration = directory.path() / "mpd.conf";
        const std::string console = directory.path() / "console";
        pid = ::fork();
        if (pid == 0) {
            // mpd's complaints about plugins it cannot load go to a file, not into the test's output.
            const int output = ::open(console.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM); // no server outlives a test that crashed
            ::execlp("mpd", "mpd", "--no-daemon", configuration.c_str(), nullptr);
            ::_exit(127);
        }
        using namespace std::chrono_literals;
        for (auto waited = 0ms; !MpdClient(address()).ping().ok(); waited += 20ms) {
            if (pid < 0 || waited > 10s || ::waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                std::ostringstream log;
                log << std::ifstream(console).rdbuf() << std::ifstream(directory.path() / "log").rdbuf();
                throw std::runtime_error("mpd did not open its socket:\n" + log.str());
            }
            std::this_thread::sleep_for(20ms);
        }
    }
    void stop() {
        if (pid > 0) {
            ::kill(pid, SIGCONT); // a frozen server must be able to take its SIGTERM
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    // A frozen server (SIGSTOP) still accepts connections and answers nothing.
    void freeze(bool frozen) { ::kill(pid, frozen ? SIGSTOP : SIGCONT); }

private:
    MpdServerOptions options;
    ScratchDirectory directory;
    pid_t pid = -1;
};

} // namespace kavrel
