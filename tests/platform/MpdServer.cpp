#include "platform/MpdServer.hpp"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// Runs the command and returns what it wrote; throws with that text when it fails.
std::string shell(const std::string& command, bool mustSucceed = true) {
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

std::string mpcAt(const MpdAddress& address, const std::string& arguments) {
    const auto password = address.password.empty() ? "" : address.password + "@";
    return "mpc --host='" + password + address.host + "' " + arguments; // our names hold no quote
}

} // namespace

bool MpdServer::available() {
    return std::system(
               "{ command -v mpd && command -v mpc && command -v sox && command -v metaflac; } >/dev/null") ==
           0;
}

MpdServer::MpdServer(MpdServerOptions options) : options(std::move(options)) {
    const auto root = directory.path();
    std::filesystem::create_directory(root / "music");
    const auto tone = "'" + (root / "music" / "tone.flac").string() + "'";
    shell("sox -n -r 44100 -c 2 " + tone + " synth 30 sine 440 && metaflac --set-tag='TITLE=Test Tone' " +
          "--set-tag='ARTIST=Sine Ensemble' --set-tag=ALBUM=Waveforms " + tone);
    // A path streams in double quotes, as mpd.conf wants it.
    std::ofstream configuration(root / "mpd.conf");
    configuration << "music_directory " << root / "music"
                  << "\ndb_file " << root / "database"
                  << "\nstate_file " << root / "state"
                  << "\npid_file " << root / "pid"
                  << "\nlog_file " << root / "log"
                  << "\nbind_to_address " << socket() << "\nauto_update \"no\"\n"
                  << "audio_output {\n type \"null\"\n name \"null\"\n sync \"yes\"\n}\n";
    if (!this->options.password.empty()) {
        configuration << "password \"" << this->options.password << "@read,add,control,admin\"\n"
                      << "default_permissions \"read\"\n";
    }
    configuration << (this->options.stickers ? "sticker_file \"" + (root / "sticker.sql").string() + "\"\n"
                                             : "");
    configuration.close();
    start();
    shell(mpcAt(address(), "--wait update"));
}

MpdServer::~MpdServer() {
    stop();
}

void MpdServer::start() {
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

void MpdServer::stop() {
    if (pid > 0) {
        ::kill(pid, SIGCONT); // a frozen server must be able to take its SIGTERM
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

void MpdServer::freeze(bool frozen) {
    ::kill(pid, frozen ? SIGSTOP : SIGCONT);
}

void MpdServer::play() {
    shell(mpcAt(address(), "-q repeat on") + " && " + mpcAt(address(), "-q add tone.flac") + " && " +
          mpcAt(address(), "-q play"));
}

std::string MpdServer::mpc(const std::string& arguments) const {
    return shell(mpcAt(address(), arguments), false);
}

} // namespace kavrel
