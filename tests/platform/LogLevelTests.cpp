#include "Platform/JsonPreferences.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kavrel {
namespace {

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
