#include "Platform/JsonPreferences.hpp"

#include "platform/EnforcedPermissions.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

class RecordingLogger final : public Logger {
public:
    void log(Level, std::string_view category, std::string_view message) override {
        EXPECT_EQ(category, "preferences");
        messages.emplace_back(message);
    }
    std::vector<std::string> messages;
};

std::string contentsOf(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    EXPECT_TRUE(stream) << path;
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write(const fs::path& path, const std::string& contents) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << contents;
    ASSERT_TRUE(stream.good()) << path;
}

std::vector<fs::path> setAsideCopies(const fs::path& directory) {
    std::vector<fs::path> found;
    for (const std::string& name : ScratchDirectory::entries(directory)) {
        if (name.starts_with("preferences.json.corrupt-")) {
            found.push_back(directory / name);
        }
    }
    return found;
}

class JsonPreferencesTest : public ::testing::Test {
protected:
    fs::path directory() const { return scratch.path() / "config" / "KavrelCompanion"; }
    fs::path file() const { return directory() / "preferences.json"; }

    ScratchDirectory scratch;
    RecordingLogger logger;
};

TEST_F(JsonPreferencesTest, TypedValuesSurviveARestartAndKeepTheirJsonType) {
    {
        JsonPreferences preferences(file(), logger);
        EXPECT_FALSE(preferences.value("bridgeOrigin").has_value());
        preferences.set("bridgeOrigin", JSONValue("https://kavrel.example/"));
        preferences.set("appleMusicEnabled", JSONValue(true));
        preferences.set("roonEnabled", JSONValue("false")); // a string, not a bool
        preferences.set("volume", JSONValue(0.1));
        preferences.set("nested", JSONValue(JSONObject{{"list", JSONArray{1, "two", nullptr}}}));
        preferences.set("appleMusicEnabled", JSONValue(false)); // replaced, not duplicated
    }
    JsonPreferences reread(file(), logger);
    EXPECT_EQ(reread.value("bridgeOrigin"), JSONValue("https://kavrel.example/"));
    EXPECT_EQ(reread.value("appleMusicEnabled"), JSONValue(false));
    const std::optional<JSONValue> roon = reread.value("roonEnabled");
    ASSERT_TRUE(roon.has_value());
    EXPECT_EQ(roon->kind(), JSONValue::Kind::string) << "a string where a bool is expected stays a string";
    EXPECT_EQ(reread.value("volume")->number(), 0.1);
    EXPECT_EQ(reread.value("nested"), JSONValue(JSONObject{{"list", JSONArray{1, "two", nullptr}}}));
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(JsonPreferencesTest, CreatesAMissingDirectoryPrivateAndWritesLeaveNoTemporaryFiles) {
    JsonPreferences preferences(file(), logger);
    struct stat status {};
    ASSERT_EQ(::stat(directory().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700U);
    for (int round = 0; round < 5; ++round) {
        preferences.set("roonHost", JSONValue("host:" + std::to_string(round)));
    }
    EXPECT_EQ(ScratchDirectory::entries(directory()), std::vector<std::string>{"preferences.json"});
    ASSERT_EQ(::stat(file().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600U);
    EXPECT_EQ(contentsOf(file()), "{\"roonHost\":\"host:4\"}\n");
}

TEST_F(JsonPreferencesTest, UnusableFilesAreMovedAsideByteForByteAndTheDefaultsUsed) {
    const std::vector<std::pair<const char*, std::string>> cases{
        {"not JSON", "{\"roonHost\": \"nas:9100\""},
        {"an array", "[true]"},
        {"a bare string", "\"roonEnabled\""},
        {"a repeated key", "{\"roonHost\":\"a\",\"roonHost\":\"b\"}"},
        {"invalid UTF-8", std::string("{\"roonHost\":\"\xff\xfe\"}")},
        {"empty", ""},
        {"binary", std::string("\0\x01\x02{", 4)},
    };
    fs::create_directories(directory());
    for (const auto& [name, contents] : cases) {
        SCOPED_TRACE(name);
        for (const fs::path& old : setAsideCopies(directory())) {
            fs::remove(old);
        }
        write(file(), contents);
        logger.messages.clear();

        JsonPreferences preferences(file(), logger);
        EXPECT_FALSE(preferences.value("roonHost").has_value());
        const std::vector<fs::path> copies = setAsideCopies(directory());
        ASSERT_EQ(copies.size(), 1U);
        EXPECT_EQ(contentsOf(copies[0]), contents);
        EXPECT_FALSE(fs::exists(file()));
        ASSERT_EQ(logger.messages.size(), 1U);
        EXPECT_NE(logger.messages[0].find(copies[0].string()), std::string::npos) << logger.messages[0];

        preferences.set("roonHost", JSONValue("nas:9100"));
        EXPECT_EQ(contentsOf(copies[0]), contents) << "a later write leaves the copy alone";
        EXPECT_EQ(contentsOf(file()), "{\"roonHost\":\"nas:9100\"}\n");
    }
}

TEST_F(JsonPreferencesTest, ASecondCorruptionNeverReplacesAnEarlierCopy) {
    fs::create_directories(directory());
    write(file(), "first broken");
    JsonPreferences first(file(), logger);
    write(file(), "second broken");
    JsonPreferences second(file(), logger);

    std::vector<std::string> kept;
    for (const fs::path& copy : setAsideCopies(directory())) {
        kept.push_back(contentsOf(copy));
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"first broken", "second broken"}));
}

TEST_F(JsonPreferencesTest, AFileThatCannotBeReadIsMovedAsideToo) {
    fs::create_directories(file()); // a directory where the file should be
    write(file() / "inside", "kept");
    JsonPreferences preferences(file(), logger);
    const std::vector<fs::path> copies = setAsideCopies(directory());
    ASSERT_EQ(copies.size(), 1U);
    EXPECT_EQ(contentsOf(copies[0] / "inside"), "kept");
    preferences.set("openedSettings", JSONValue(true));
    EXPECT_EQ(contentsOf(file()), "{\"openedSettings\":true}\n");
}

TEST_F(JsonPreferencesTest, AFailedWriteKeepsThePreviousFileAndTheValueForThisRun) {
    JsonPreferences preferences(file(), logger);
    preferences.set("roonHost", JSONValue("nas:9100"));
    const std::string before = contentsOf(file());

    fs::permissions(directory(), fs::perms::owner_read | fs::perms::owner_exec);
    {
        const EnforcedPermissions enforced;
        preferences.set("openedSettings", JSONValue(true));
    }
    EXPECT_EQ(contentsOf(file()), before);
    EXPECT_EQ(ScratchDirectory::entries(directory()), std::vector<std::string>{"preferences.json"});
    ASSERT_EQ(logger.messages.size(), 1U);
    EXPECT_NE(logger.messages[0].find("not saved"), std::string::npos) << logger.messages[0];
    EXPECT_EQ(preferences.value("openedSettings"), JSONValue(true));

    fs::permissions(directory(), fs::perms::owner_all);
    preferences.set("roonEnabled", JSONValue(false));
    EXPECT_EQ(JsonPreferences(file(), logger).value("openedSettings"), JSONValue(true))
        << "the next successful write carries the value that failed";
}

TEST_F(JsonPreferencesTest, ACorruptFileThatCannotBeMovedIsNeverOverwritten) {
    fs::create_directories(directory());
    write(file(), "{broken");
    fs::permissions(directory(), fs::perms::owner_read | fs::perms::owner_exec);
    std::optional<JsonPreferences> preferences;
    {
        const EnforcedPermissions enforced;
        preferences.emplace(file(), logger);
    }
    fs::permissions(directory(), fs::perms::owner_all);
    ASSERT_EQ(logger.messages.size(), 1U);
    EXPECT_NE(logger.messages[0].find("could not be moved aside"), std::string::npos) << logger.messages[0];

    preferences->set("roonHost", JSONValue("nas:9100")); // the directory is writable again
    EXPECT_EQ(contentsOf(file()), "{broken");
    EXPECT_EQ(ScratchDirectory::entries(directory()), std::vector<std::string>{"preferences.json"});
    EXPECT_EQ(logger.messages.size(), 2U);
    EXPECT_EQ(preferences->value("roonHost"), JSONValue("nas:9100"));
}

TEST_F(JsonPreferencesTest, AValueThatCannotBeWrittenIsRefusedAndSpoilsNoLaterWrite) {
    JsonPreferences preferences(file(), logger);
    preferences.set("roonHost", JSONValue(std::string("\xc3", 1)));
    EXPECT_FALSE(preferences.value("roonHost").has_value());
    EXPECT_EQ(logger.messages.size(), 1U);
    preferences.set("roonEnabled", JSONValue(true));
    EXPECT_EQ(contentsOf(file()), "{\"roonEnabled\":true}\n");
}

TEST(JsonPreferencesLocation, FollowsXdgConfigHomeAndIgnoresARelativeValue) {
    {
        const EnvironmentOverride config("XDG_CONFIG_HOME", "/srv/config");
        EXPECT_EQ(JsonPreferences::defaultFile(), fs::path("/srv/config/KavrelCompanion/preferences.json"));
    }
    const EnvironmentOverride home("HOME", "/home/listener");
    const EnvironmentOverride config("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(JsonPreferences::defaultFile(),
              fs::path("/home/listener/.config/KavrelCompanion/preferences.json"));
}

} // namespace
} // namespace kavrel
