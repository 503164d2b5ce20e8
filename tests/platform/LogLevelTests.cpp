#include "Platform/JournalLogger.hpp"
#include "Platform/JsonPreferences.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kavrel {
namespace {

TEST(LogLevelTest, WithoutAJournalWarningsAndErrorsSayTheirLevel) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK), 0);
    {
        JournalLogger logger("/nonexistent/journal/socket", pipeEnds[1]);
        logger.info("discovery", "outcome=found");
        logger.warning("preferences", "moved aside");
        logger.error("storage", "refused");
    }
    ::close(pipeEnds[1]);
    char buffer[512];
    const ssize_t count = ::read(pipeEnds[0], buffer, sizeof buffer);
    ::close(pipeEnds[0]);
    ASSERT_GT(count, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(count)),
              "kavrel-companion[discovery]: outcome=found\n"
              "kavrel-companion[preferences]: warning: moved aside\n"
              "kavrel-companion[storage]: error: refused\n");
}

TEST(LogLevelTest, PreferenceProblemsAreWarnings) {
    class Levels final : public Logger {
    public:
        void log(Level level, std::string_view, std::string_view) override { seen.push_back(level); }
        std::vector<Level> seen;
    } levels;
    char pattern[] = "/tmp/kavrel-log-levels-XXXXXX";
    const std::filesystem::path directory = ::mkdtemp(pattern);
    std::ofstream(directory / "preferences.json") << "{not json";
    JsonPreferences preferences(directory / "preferences.json", levels);
    std::filesystem::remove_all(directory);
    preferences.set("openedSettings", true); // its directory is gone: not saved
    EXPECT_EQ(levels.seen, (std::vector<Logger::Level>{Logger::Level::warning, Logger::Level::warning}));
}

} // namespace
} // namespace kavrel
