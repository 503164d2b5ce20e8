#include "Platform/JsonPreferences.hpp"
#include "Platform/XdgLoginItem.hpp"

#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <set>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

// The preferences and the autostart entry both live under a fresh XDG_CONFIG_HOME.
class ConfigHomeTest : public ::testing::Test {
protected:
    // Runs the action while the directory cannot be written. Root's CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH
    // and CAP_FOWNER leave this thread's effective set meanwhile: capabilities belong to a thread, and
    // those still in the permitted set come back without fail. An ordinary user has none to lose.
    static void readOnly(const fs::path& directory, const std::function<void()>& action) {
        fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct saved[2]{};
        ::syscall(SYS_capget, &header, saved);
        __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
        lowered[0].effective &=
            ~(CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH) | CAP_TO_MASK(CAP_FOWNER));
        ::syscall(SYS_capset, &header, lowered);
        action();
        ::syscall(SYS_capset, &header, saved);
        fs::permissions(directory, fs::perms::owner_all);
    }

    ScratchDirectory scratch;
    EnvironmentOverride config{"XDG_CONFIG_HOME", (scratch.path() / "config").string()};
};

class JsonPreferencesTest : public ConfigHomeTest, public Logger {
protected:
    // Every problem with preferences is a warning: the companion goes on with what it has.
    void log(Level level, std::string_view category, std::string_view message) override {
        EXPECT_EQ(level, Level::warning) << message;
        EXPECT_EQ(category, "preferences");
        messages.emplace_back(message);
    }
    fs::path directory = scratch.path() / "config" / "KavrelCompanion";
    fs::path file = directory / "preferences.json";
    std::vector<std::string> messages;
};

TEST_F(JsonPreferencesTest, TypedValuesSurviveARestartInAPrivateFileWrittenWholeOrNotAtAll) {
    {
        JsonPreferences preferences(file, *this);
        preferences.set("roonEnabled", JSONValue(true));
        preferences.set("roonHost", JSONValue("false")); // a string, not a bool
        preferences.set("volume", JSONValue(0.1));
        preferences.set("nested", JSONValue(JSONObject{{"list", JSONArray{1, "two", nullptr}}}));
        preferences.set("roonEnabled", JSONValue(false));          // replaced, not duplicated
        preferences.set("bad", JSONValue(std::string("\xc3", 1))); // cannot be written: refused alone
        EXPECT_FALSE(preferences.value("bad").has_value());
    }
    const std::string written = "{\"nested\":{\"list\":[1,\"two\",null]},\"roonEnabled\":false,\"roonHost\":"
                                "\"false\",\"volume\":0.1}\n";
    // Private, and with no temporary file left.
    EXPECT_EQ(std::tuple(modeOf(directory), modeOf(file), entryCount(directory), contentsOf(file)),
              std::tuple(0700U, 0600U, 1U, written));
    // A failed write keeps the previous file, and the value for this run and the next write.
    JsonPreferences preferences(file, *this);
    readOnly(directory, [&] { preferences.set("openedSettings", JSONValue(true)); });
    EXPECT_EQ(contentsOf(file), written);
    EXPECT_EQ(preferences.value("openedSettings"), JSONValue(true));
    preferences.set("volume", JSONValue(0.1)); // writes back all it has read
    EXPECT_EQ(contentsOf(file),
              "{\"nested\":{\"list\":[1,\"two\",null]},\"openedSettings\":true,\"roonEnabled\":"
              "false,\"roonHost\":\"false\",\"volume\":0.1}\n");
    ASSERT_EQ(messages.size(), 2U) << "only the refused value and the failed write are reported";
    EXPECT_NE(messages[1].find("not saved"), std::string::npos) << messages[1];
}

TEST_F(JsonPreferencesTest, UnusableFilesAreMovedAsideByteForByteAndNeverReplaced) {
    std::multiset<std::string> kept = {"{\"roonHost\": \"nas:9100\"", "[true]",
                                       "{\"roonHost\":\"a\",\"roonHost\":\"b\"}",
                                       "{\"roonHost\":\"\xff\xfe\"}", ""};
    fs::create_directories(directory);
    for (const std::string& contents : kept) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << contents;
        // With the defaults: nothing read is kept.
        JsonPreferences(file, *this).set("openedSettings", JSONValue(true));
        EXPECT_EQ(contentsOf(file), "{\"openedSettings\":true}\n") << contents;
    }
    ASSERT_EQ(messages.size(), kept.size());
    EXPECT_NE(messages.back().find(file.string() + ".corrupt-"), std::string::npos) << messages.back();
    // Every copy is kept, even those set aside within the same second.
    kept.insert("{\"openedSettings\":true}\n");
    std::multiset<std::string> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        files.insert(contentsOf(entry.path()));
    }
    EXPECT_EQ(files, kept);

    fs::remove(file);
    fs::create_directories(file / "kept"); // cannot be read as a file: moved aside too
    JsonPreferences(file, *this).set("openedSettings", JSONValue(true));
    EXPECT_EQ(contentsOf(file), "{\"openedSettings\":true}\n");

    // One that cannot be moved aside is kept as it is, while this run goes on with the defaults.
    std::ofstream(file, std::ios::trunc) << "{broken";
    std::optional<JsonPreferences> corrupt;
    readOnly(directory, [&] { corrupt.emplace(file, *this); });
    corrupt->set("roonHost", JSONValue("nas:9100")); // the directory is writable again
    EXPECT_EQ(std::pair(contentsOf(file), entryCount(directory)),
              std::pair(std::string("{broken"), kept.size() + 1));
    EXPECT_EQ(corrupt->value("roonHost"), JSONValue("nas:9100"));
    EXPECT_NE(messages.back().find("is kept as it is"), std::string::npos) << messages.back();
}

TEST_F(JsonPreferencesTest, AFileOfOneMebibyteIsReadAndALargerOneSetAside) {
    fs::create_directories(directory);
    for (const std::size_t size : {1'048'576U, 1'048'577U}) {
        const std::string host(size - 15, 'h'); // 15 bytes of {"roonHost":""}
        std::ofstream(file, std::ios::binary | std::ios::trunc) << "{\"roonHost\":\"" << host << "\"}";
        EXPECT_EQ(JsonPreferences(file, *this).value("roonHost") == JSONValue(host), size == 1'048'576U)
            << size;
    }
    EXPECT_EQ(std::pair(messages.size(), entryCount(directory)), std::pair(std::size_t{1}, std::size_t{1}));
}

// An absolute XDG_CONFIG_HOME is followed, as the autostart tests below show.
TEST(JsonPreferencesLocation, IgnoresARelativeXdgConfigHome) {
    const EnvironmentOverride home("HOME", "/home/listener");
    const EnvironmentOverride config("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(JsonPreferences::defaultFile(),
              fs::path("/home/listener/.config/KavrelCompanion/preferences.json"));
}

// An entry switched off in its main group is not enabled until it is rewritten.
using XdgLoginItemTest = ConfigHomeTest;

TEST_F(XdgLoginItemTest, EnablingWritesTheEntryAndDisablingRemovesItOrReportsWhyNot) {
    const fs::path autostart = scratch.path() / "config" / "autostart";
    const fs::path entry = autostart / "kavrel-companion.desktop";
    XdgLoginItem item("/usr/bin/kavrel-companion");
    const std::string written = "[Desktop Entry]\nType=Application\nName=Kavrel Companion\n"
                                "Exec=/usr/bin/kavrel-companion\nTryExec=/usr/bin/kavrel-companion\n"
                                "Icon=kavrel-companion\nX-GNOME-Autostart-enabled=true\n";
    item.setEnabled(true);
    EXPECT_EQ(modeOf(autostart), 0700U) << "a missing autostart directory is created private";
    const std::pair<const char*, bool> cases[] = {
        {"[Desktop Entry]\nExec=kavrel-companion\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = true\r\n", false},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"# Hidden=true\n[Desktop Entry]\nExec=kavrel-companion\n", true},
        {"[Desktop Entry]\nExec=kavrel-companion\n[Desktop Action Quit]\nHidden=true\n", true},
    };
    for (const auto& [text, enabled] : cases) {
        std::ofstream(entry, std::ios::trunc) << text;
        EXPECT_EQ(item.isEnabled(), enabled) << text;
    }
    item.setEnabled(true); // over any entry, and with no temporary file left
    EXPECT_EQ(std::pair(contentsOf(entry), entryCount(autostart)), std::pair(written, 1UL));
    // Failures are reported and change nothing.
    readOnly(autostart, [&] {
        EXPECT_THROW(item.setEnabled(false), LoginItemError);
        EXPECT_TRUE(item.isEnabled());
    });
    item.setEnabled(false);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(entryCount(autostart), 0U);
    EXPECT_NO_THROW(item.setEnabled(false)) << "disabling what is not there succeeds";
    readOnly(autostart, [&] {
        EXPECT_THROW(item.setEnabled(true), LoginItemError);
        EXPECT_FALSE(item.isEnabled());
    });
    fs::create_directories(entry);
    EXPECT_FALSE(item.isEnabled()) << "a directory in the entry's place";
}

TEST(XdgLoginItemEntry, QuotesExecutablePathsAsTheDesktopEntryFormatRequires) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/opt/Kavrel Companion/kavrel", "\"/opt/Kavrel Companion/kavrel\"", "/opt/Kavrel Companion/kavrel"},
        {"/opt/k$HOME/a\"b`c", "\"/opt/k\\\\$HOME/a\\\\\"b\\\\`c\"", "/opt/k$HOME/a\"b`c"},
        {"/opt/back\\slash", "\"/opt/back\\\\\\\\slash\"", "/opt/back\\\\slash"},
        {"/opt/100%/kavrel", "/opt/100%%/kavrel", "/opt/100%/kavrel"},
        {"/opt/caf\xc3\xa9/kavrel", "/opt/caf\xc3\xa9/kavrel", "/opt/caf\xc3\xa9/kavrel"},
    };
    for (const auto& [path, exec, tryExec] : cases) {
        const std::string text = XdgLoginItem::entryText(path);
        EXPECT_NE(text.find(std::string("\nExec=") + exec + "\nTryExec=" + tryExec + "\n"), std::string::npos)
            << text;
    }
    for (const char* refused : {"kavrel-companion", "/opt/new\nline", "/opt/\xff/kavrel"}) {
        EXPECT_THROW(XdgLoginItem::entryText(refused), LoginItemError) << refused;
    }
}

} // namespace
} // namespace kavrel
