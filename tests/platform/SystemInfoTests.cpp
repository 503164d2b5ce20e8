#include "Platform/SystemInfo.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kavrel {
namespace {

TEST(SystemInfo, ReadsPrettyNameInEveryQuotingOfOsRelease) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {"Debian's own file",
         "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"single quotes", "PRETTY_NAME='Fedora Linux 40 (Workstation Edition)'\n",
         "Fedora Linux 40 (Workstation Edition)"},
        {"unquoted", "ID=arch\nPRETTY_NAME=Arch\n", "Arch"},
        {"escapes in double quotes", "PRETTY_NAME=\"Say \\\"hi\\\" for \\$5 \\\\ \\n\"",
         "Say \"hi\" for $5 \\ \\n"},
        {"no escapes in single quotes", "PRETTY_NAME='a\\\"b'", "a\\\"b"},
        {"comments, blank lines, CRLF and indentation",
         "# PRETTY_NAME=\"Commented\"\n\n  PRETTY_NAME=\"Indented\"\r\n", "Indented"},
        {"the last assignment wins", "PRETTY_NAME=\"First\"\nPRETTY_NAME=\"Second\"\n", "Second"},
        {"a longer key is another key", "MY_PRETTY_NAME=\"Other\"\nPRETTY_NAME_X=1\n", std::nullopt},
        {"absent", "NAME=\"Debian GNU/Linux\"\n", std::nullopt},
        {"empty", "PRETTY_NAME=\"\"\n", std::nullopt},
        {"only blanks", "PRETTY_NAME=\"   \"\n", std::nullopt},
        {"control characters are dropped", "PRETTY_NAME=\"Bad\x1b[31m\tName\"", "Bad[31mName"},
        {"unterminated quote", "PRETTY_NAME=\"Half", "Half"},
        {"no newline at the end", "PRETTY_NAME=Last", "Last"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(SystemInfo::prettyName(entry.text), entry.expected);
    }
}

TEST(SystemInfo, OsVersionJoinsDistributionAndKernelWithUnknownParts) {
    EXPECT_EQ(SystemInfo::osVersion("Debian GNU/Linux 12 (bookworm)", "Linux 6.1.0-18-amd64"),
              "Debian GNU/Linux 12 (bookworm) \u00b7 Linux 6.1.0-18-amd64");
    EXPECT_EQ(SystemInfo::osVersion(std::nullopt, "Linux 6.1.0"), "unknown \u00b7 Linux 6.1.0");
    EXPECT_EQ(SystemInfo::osVersion("Arch", std::nullopt), "Arch \u00b7 unknown");

    const std::string running = SystemInfo::osVersion();
    EXPECT_NE(running.find(" \u00b7 Linux "), std::string::npos) << running;
    EXPECT_EQ(running.find('\n'), std::string::npos) << running;
}

TEST(SystemInfo, BuildInfoTreatsEmptyConstantsAsUnknown) {
    const BuildInfo known = SystemInfo::buildInfo("1.2", "42", "Arch \u00b7 Linux 6.9");
    EXPECT_EQ(known.shortVersion, "1.2");
    EXPECT_EQ(known.build, "42");
    EXPECT_EQ(known.osVersion, "Arch \u00b7 Linux 6.9");

    const BuildInfo empty = SystemInfo::buildInfo("", "", "x");
    EXPECT_EQ(empty.shortVersion, "unknown");
    EXPECT_EQ(empty.build, "unknown");

    EXPECT_NE(SystemInfo::buildInfo().shortVersion, "unknown") << "the build always has a project version";
}

} // namespace
} // namespace kavrel
