#include "platform/MpdServer.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Exit status and everything the command wrote.
std::pair<int, std::string> shell(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    std::string output;
    char chunk[4096];
    while (std::size_t count = std::fread(chunk, 1, sizeof chunk, pipe)) {
        output.append(chunk, count);
    }
    const int status = ::pclose(pipe);
    if (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string mpcAt(const std::filesystem::path& socket) {
    return "mpc --host=" + shellQuoted(socket) + " ";
}

bool accepts(const std::filesystem::path& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket.string().copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

bool MpdServer::available() {
    return shell("command -v mpd && command -v mpc && command -v sox && command -v metaflac").first == 0;
}

MpdServer::MpdServer(MpdServerOptions options) : options(std::move(options)) {
    const auto root = directory.path();
    std::filesystem::create_directory(root / "music");
    const auto tone = shellQuoted((root / "music" / this->options.file).string());
    auto [made, why] =
        shell("sox -n -r 44100 -c 2 " + tone + " synth 30 sine 440 && metaflac --set-tag=TITLE=" +
              shellQuoted(this->options.title) + " --set-tag=ARTIST=" + shellQuoted(this->options.artist) +
              " --set-tag=ALBUM=" + shellQuoted(this->options.album) + " " + tone);
    if (made != 0) {
        throw std::runtime_error("cannot make the tone: " + why);
    }
    std::ofstream configuration(root / "mpd.conf");
    for (const auto* name : {"music_directory", "db_file", "state_file", "pid_file", "log_file"}) {
        const std::string key(name);
        configuration << key << " \"" << (root / (key == "music_directory" ? "music" : key)).string()
                      << "\"\n";
    }
    if (this->options.stickers) {
        configuration << "sticker_file \"" << (root / "sticker.sql").string() << "\"\n";
    }
    configuration << "bind_to_address \"" << socket().string() << "\"\nauto_update \"no\"\n"
                  << "audio_output {\n type \"null\"\n name \"null\"\n sync \"yes\"\n}\n";
    configuration.close();
    start();
    if (auto [updated, output] = shell(mpcAt(socket()) + "--wait update"); updated != 0) {
        stop();
        throw std::runtime_error("mpc update failed: " + output);
    }
}

MpdServer::~MpdServer() {
    stop();
}

void MpdServer::start() {
    const auto root = directory.path();
    const std::string configuration = (root / "mpd.conf").string();
    const std::string console = (root / "console").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // mpd's complaints about plugins it cannot load go to a file, not into the test's output.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, console.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const char* arguments[] = {"mpd", "--no-daemon", configuration.c_str(), nullptr};
    const int failed =
        ::posix_spawnp(&pid, "mpd", &actions, nullptr, const_cast<char* const*>(arguments), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        pid = -1;
        throw std::runtime_error("cannot start mpd");
    }
    for (auto waited = 0ms; !accepts(socket()); waited += 20ms) {
        if (waited > 10s || ::waitpid(pid, nullptr, WNOHANG) == pid) {
            stop();
            std::ostringstream log;
            log << std::ifstream(console).rdbuf() << std::ifstream(root / "log_file").rdbuf();
            throw std::runtime_error("mpd did not open its socket:\n" + log.str());
        }
        std::this_thread::sleep_for(20ms);
    }
}

void MpdServer::stop() {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
    // A server that is gone must not leave a socket that looks like one.
    std::error_code ignored;
    std::filesystem::remove(socket(), ignored);
}

void MpdServer::play() {
    const auto mpc = mpcAt(socket());
    const auto [status, output] = shell(mpc + "-q repeat on && " + mpc + "-q add " +
                                        shellQuoted(options.file) + " && " + mpc + "-q play");
    if (status != 0) {
        throw std::runtime_error("mpc could not play " + options.file + ": " + output);
    }
}

std::string MpdServer::mpc(const std::string& arguments) const {
    return shell(mpcAt(socket()) + arguments).second;
}

} // namespace kavrel
