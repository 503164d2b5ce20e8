// A start-up that refuses its private directory leaves an error in the log, saying which check failed
// on which path, before the alert.

#include "KavrelCompanion/AppDelegate.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

using Entries = std::vector<std::pair<Logger::Level, std::string>>;

class RecordingLog final : public Logger {
public:
    explicit RecordingLog(Entries& entries) : entries(entries) {}
    void log(Level level, std::string_view category, std::string_view message) override {
        entries.emplace_back(level, std::string(category) + ": " + std::string(message));
    }

private:
    Entries& entries;
};

TEST(StartupTraceTest, ARefusedPrivateDirectoryIsLoggedAsAnErrorBeforeTheAlert) {
    char pattern[] = "/tmp/kavrel-startup-trace-XXXXXX";
    const fs::path scratch = ::mkdtemp(pattern);
    const fs::path data = scratch / "data";
    const fs::path directory = data / "KavrelCompanion";
    const fs::path lockFile = directory / "app.lock";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);

    struct Case {
        std::function<void()> arrange;
        std::string expected; // in the message
    };
    const Case cases[] = {
        {[&] {
             fs::create_directories(directory);
             fs::permissions(directory, fs::perms(0755));
         },
         directory.string() + ": mode 0755, not 0700"},
        {[&] {
             fs::permissions(directory, fs::perms(0700));
             std::ofstream{lockFile};
             fs::permissions(lockFile, fs::perms(0644));
         },
         lockFile.string() + ": mode 0644, not 0600"},
        {[&] {
             fs::remove_all(data);
             std::ofstream{data};
         },
         data.string()},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.expected);
        item.arrange();
        Entries entries;
        std::size_t entriesAtAlert = 0;
        AppDelegate delegate({.storageAlert = [&](const QString&) { entriesAtAlert = entries.size(); },
                              .trayProbe = {},
                              .quit = {}},
                             std::make_unique<RecordingLog>(entries));
        int exitCode = 0;
        EXPECT_FALSE(delegate.applicationDidFinishLaunching(exitCode));
        ASSERT_EQ(entries.size(), 1U);
        EXPECT_EQ(entriesAtAlert, 1U);
        EXPECT_EQ(entries[0].first, Logger::Level::error);
        EXPECT_TRUE(entries[0].second.starts_with("storage: ")) << entries[0].second;
        EXPECT_NE(entries[0].second.find(item.expected), std::string::npos) << entries[0].second;
    }
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(scratch);
}

} // namespace
} // namespace kavrel
