#include "Platform/JournalLogger.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace kavrel {
namespace {

std::string drain(int descriptor) {
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(descriptor, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
}

TEST(JournalLogger, WithoutAJournalEachEntryIsOneLineOnTheFallback) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK), 0);
    {
        JournalLogger logger("/nonexistent/journal/socket", pipeEnds[1]);
        logger.info("discovery", "outcome=found");
        logger.info("preferences", "two\nlines\\ and a \x1b escape");
    }
    ::close(pipeEnds[1]);
    EXPECT_EQ(drain(pipeEnds[0]), "kavrel-companion[discovery]: outcome=found\n"
                                  "kavrel-companion[preferences]: two\\nlines\\\\ and a \\x1b escape\n");
    ::close(pipeEnds[0]);
}

} // namespace
} // namespace kavrel
