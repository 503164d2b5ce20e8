#include "Platform/XdgLoginItem.hpp"

#include "platform/EnforcedPermissions.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

class XdgLoginItemTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    EnvironmentOverride config{"XDG_CONFIG_HOME", (scratch.path() / "config").string()};
    fs::path autostart = scratch.path() / "config" / "autostart";
    fs::path entry = autostart / "kavrel-companion.desktop";
    XdgLoginItem item{"/usr/bin/kavrel-companion"};
};

// An entry switched off in its main group is not enabled until it is rewritten.
TEST_F(XdgLoginItemTest, EnablingWritesTheEntryAndDisablingRemovesIt) {
    const std::string written = "[Desktop Entry]\nType=Application\nName=Kavrel Companion\n"
                                "Exec=/usr/bin/kavrel-companion\nTryExec=/usr/bin/kavrel-companion\n"
                                "Icon=kavrel-companion\nX-GNOME-Autostart-enabled=true\n";
    EXPECT_FALSE(item.isEnabled()) << "off by default";
    item.setEnabled(true);
    EXPECT_EQ(contentsOf(entry), written);
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
    item.setEnabled(true);
    EXPECT_EQ(contentsOf(entry), written);
    EXPECT_EQ(entryCount(autostart), 1U);
    item.setEnabled(false);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(entryCount(autostart), 0U);
    EXPECT_NO_THROW(item.setEnabled(false)) << "disabling what is not there succeeds";
    fs::create_directories(entry);
    EXPECT_FALSE(item.isEnabled()) << "a directory in the entry's place";
}

TEST_F(XdgLoginItemTest, FailuresInAReadOnlyDirectoryAreReportedAndChangeNothing) {
    fs::create_directories(autostart);
    fs::permissions(autostart, fs::perms::owner_read | fs::perms::owner_exec);
    {
        const EnforcedPermissions enforced;
        EXPECT_THROW(item.setEnabled(true), LoginItemError);
        EXPECT_FALSE(item.isEnabled());
    }
    fs::permissions(autostart, fs::perms::owner_all);
    item.setEnabled(true);
    fs::permissions(autostart, fs::perms::owner_read | fs::perms::owner_exec);
    const EnforcedPermissions enforced;
    EXPECT_THROW(item.setEnabled(false), LoginItemError);
    EXPECT_TRUE(item.isEnabled()) << "the real state after the failure";
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
