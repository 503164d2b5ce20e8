#include "Platform/XdgLoginItem.hpp"

#include "platform/EnforcedPermissions.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

std::string contentsOf(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

class XdgLoginItemTest : public ::testing::Test {
protected:
    fs::path autostart() const { return scratch.path() / "config" / "autostart"; }
    fs::path entry() const { return autostart() / "kavrel-companion.desktop"; }

    ScratchDirectory scratch;
    EnvironmentOverride config{"XDG_CONFIG_HOME", (scratch.path() / "config").string()};
    XdgLoginItem item{"/usr/bin/kavrel-companion"};
};

TEST_F(XdgLoginItemTest, EnablingWritesTheEntryAndDisablingRemovesIt) {
    EXPECT_EQ(item.file(), entry());
    EXPECT_FALSE(item.isEnabled()) << "off by default";

    item.setEnabled(true);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(contentsOf(entry()), "[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Name=Kavrel Companion\n"
                                   "Exec=/usr/bin/kavrel-companion\n"
                                   "TryExec=/usr/bin/kavrel-companion\n"
                                   "Icon=kavrel-companion\n"
                                   "X-GNOME-Autostart-enabled=true\n");
    struct stat status {};
    ASSERT_EQ(::stat(autostart().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700U) << "a missing autostart directory is created private";
    EXPECT_EQ(ScratchDirectory::entries(autostart()), std::vector<std::string>{"kavrel-companion.desktop"});

    item.setEnabled(true); // again: the same single file
    EXPECT_EQ(ScratchDirectory::entries(autostart()), std::vector<std::string>{"kavrel-companion.desktop"});

    item.setEnabled(false);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_NO_THROW(item.setEnabled(false)) << "disabling what is not there succeeds";
}

TEST_F(XdgLoginItemTest, AnEntrySwitchedOffInItsMainGroupIsNotEnabledUntilRewritten) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"[Desktop Entry]\nExec=kavrel-companion\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = true\r\n", false},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"# Hidden=true\n[Desktop Entry]\nExec=kavrel-companion\n", true},
        {"[Desktop Entry]\nExec=kavrel-companion\n[Desktop Action Quit]\nHidden=true\n", true},
    };
    for (const auto& [text, enabled] : cases) {
        SCOPED_TRACE(text);
        write(entry(), text);
        EXPECT_EQ(item.isEnabled(), enabled);
    }
    write(entry(), "[Desktop Entry]\nHidden=true\n");
    item.setEnabled(true);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(contentsOf(entry()).find("Hidden"), std::string::npos);

    fs::remove(entry());
    fs::create_directories(entry());
    EXPECT_FALSE(item.isEnabled()) << "a directory in the entry's place";
}

TEST_F(XdgLoginItemTest, FailuresInAReadOnlyDirectoryAreReportedAndChangeNothing) {
    fs::create_directories(autostart());
    fs::permissions(autostart(), fs::perms::owner_read | fs::perms::owner_exec);
    {
        const EnforcedPermissions enforced;
        try {
            item.setEnabled(true);
            ADD_FAILURE() << "enabling in a read-only directory must fail";
        } catch (const LoginItemError& error) {
            EXPECT_NE(std::string(error.what()).find(autostart().string()), std::string::npos)
                << error.what();
        }
        EXPECT_FALSE(item.isEnabled());
    }
    EXPECT_TRUE(ScratchDirectory::entries(autostart()).empty()) << "no temporary file is left behind";

    fs::permissions(autostart(), fs::perms::owner_all);
    item.setEnabled(true);
    const std::string written = contentsOf(entry());
    fs::permissions(autostart(), fs::perms::owner_read | fs::perms::owner_exec);
    {
        const EnforcedPermissions enforced;
        EXPECT_THROW(item.setEnabled(false), LoginItemError);
        EXPECT_TRUE(item.isEnabled()) << "the real state after the failure";
    }
    EXPECT_EQ(contentsOf(entry()), written);
}

TEST(XdgLoginItemEntry, QuotesExecutablePathsAsTheDesktopEntryFormatRequires) {
    struct Case {
        const char* path;
        const char* exec;
        const char* tryExec;
    };
    const std::vector<Case> cases{
        {"/opt/Kavrel Companion/bin/kavrel-companion", "\"/opt/Kavrel Companion/bin/kavrel-companion\"",
         "/opt/Kavrel Companion/bin/kavrel-companion"},
        {"/opt/k$HOME/a\"b`c", "\"/opt/k\\\\$HOME/a\\\\\"b\\\\`c\"", "/opt/k$HOME/a\"b`c"},
        {"/opt/back\\slash", "\"/opt/back\\\\\\\\slash\"", "/opt/back\\\\slash"},
        {"/opt/100%/kavrel", "/opt/100%%/kavrel", "/opt/100%/kavrel"},
        {"/opt/caf\xc3\xa9/kavrel", "/opt/caf\xc3\xa9/kavrel", "/opt/caf\xc3\xa9/kavrel"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.path);
        const std::string text = XdgLoginItem::entryText(entry.path);
        EXPECT_NE(text.find(std::string("\nExec=") + entry.exec + "\n"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("\nTryExec=") + entry.tryExec + "\n"), std::string::npos) << text;
    }
    for (const char* refused : {"kavrel-companion", "/opt/new\nline", "/opt/\xff/kavrel"}) {
        EXPECT_THROW(XdgLoginItem::entryText(refused), LoginItemError) << refused;
    }
}

} // namespace
} // namespace kavrel
