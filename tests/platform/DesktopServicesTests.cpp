#include "Platform/JournalLogger.hpp"
#include "Platform/QtWorkspace.hpp"
#include "Platform/SystemInfo.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>

namespace kavrel {
namespace {

TEST(SystemInfo, ReadsPrettyNameInEveryQuotingOfOsReleaseAndNamesWhatIsUnknown) {
    // Each row also holds the assignments that a wrong reading would pick instead.
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"PRETTY_NAME='Fedora Linux 40'\nNAME=\"Fedora\"\n", "Fedora Linux 40"},
        {"PRETTY_NAME=\"First\"\nID=arch\nPRETTY_NAME=Arch", "Arch"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" for \\$5 \\\\ \\n\"", "Say \"hi\" for $5 \\ \\n"},
        {"PRETTY_NAME='a\\\"b'", "a\\\"b"},
        {"# PRETTY_NAME=\"No\"\n\n  PRETTY_NAME=\"Indented\"\r\nMY_PRETTY_NAME=\"Other\"\n", "Indented"},
        {"PRETTY_NAME_X=1\n", std::nullopt},
        {"PRETTY_NAME=\"   \"\n", std::nullopt},
        {"PRETTY_NAME=\"Bad\x1b[31m\tName", "Bad[31mName"}, // nor is the quote closed
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SystemInfo::prettyName(text), expected) << text;
    }
    // Versions name what is unknown.
    EXPECT_EQ(SystemInfo::osVersion(std::nullopt, std::nullopt), "unknown \u00b7 unknown");
    EXPECT_NE(SystemInfo::osVersion().find(" \u00b7 Linux "), std::string::npos) << SystemInfo::osVersion();
    const BuildInfo empty = SystemInfo::buildInfo("", "", "x");
    EXPECT_EQ(std::tie(empty.shortVersion, empty.build), std::make_tuple("unknown", "unknown"));
    EXPECT_NE(SystemInfo::buildInfo().shortVersion, "unknown") << "the build always has a project version";
}

TEST(JournalLogger, WithoutAJournalEachEntryIsOneLineOnTheFallback) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    {
        JournalLogger logger("/nonexistent/journal/socket", ends[1]);
        logger.info("discovery", "outcome=found");
        logger.warning("preferences", "two\nlines\\ and a \x1b escape");
        logger.error("roon", "gone");
    }
    char buffer[256];
    const auto count = ::read(ends[0], buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0))),
              "kavrel-companion[discovery]: outcome=found\n"
              "kavrel-companion[preferences]: warning: two\\nlines\\\\ and a \\x1b escape\n"
              "kavrel-companion[roon]: error: gone\n");
    ::close(ends[0]);
    ::close(ends[1]);
}

// Only refusals: an accepted address would start the desktop's browser.
TEST(QtWorkspace, RefusesWhatIsNotAWebPageWithoutStartingAnything) {
    for (const char* url :
         {"", "not a url", "file:///etc/passwd", "javascript:alert(1)", "mailto:a@b.example",
          "x-kavrel://settings", "https://", "https://exa mple.com/"}) {
        EXPECT_FALSE(QtWorkspace().open(url)) << url;
    }
}

} // namespace
} // namespace kavrel
