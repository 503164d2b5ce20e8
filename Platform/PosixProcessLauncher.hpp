#pragma once

#include "CompanionCore/runtime/MainLoop.hpp"
#include "CompanionCore/runtime/ProcessLauncher.hpp"

namespace kavrel {

// Starts children with posix_spawn on three close-on-exec pipes; every other descriptor is closed
// in the child, and its signal mask and dispositions start from the defaults. The exit is watched
// through a pidfd on the main loop and collected with waitpid, so no zombie stays behind while the
// loop runs.
//
// Writes to standard input never raise SIGPIPE in the companion: the writing thread blocks SIGPIPE
// for the duration of the write and consumes the one a broken pipe raises, so a child that has gone
// shows up as a failed write (EPIPE) and the process-wide disposition is left alone.
//
// A ChildProcess destroyed before its exit was collected does not signal the child.
class PosixProcessLauncher final : public ProcessLauncher {
public:
    explicit PosixProcessLauncher(MainLoop& loop);

    std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        ExitHandler onExit) override;

private:
    MainLoop& loop;
};

} // namespace kavrel
