#include "CompanionCore/runtime/Published.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrel {
namespace {

TEST(Published, ObserversHearEverySetBeforeTheChangeAndMayCancelAnySubscriptionFromAnywhere) {
    auto text = std::make_unique<Published<std::string>>("old");
    std::vector<std::string> seen; // "<value at the time> <new value>"
    Cancellable second;
    Cancellable first = text->observe([&](const std::string& next) {
        seen.push_back(text->value() + " " + next);
        second.cancel(); // from inside another observer, before it is told
    });
    second = text->observe([&](const std::string& next) { seen.push_back("second " + next); });
    text->set("new");
    text->set("new");
    first.cancel();
    {
        const auto scoped = text->observe([&](const std::string& next) { seen.push_back("scoped " + next); });
        text->set("scoped");
    }
    text->set("last");
    EXPECT_EQ(seen, (std::vector<std::string>{"old new", "new new", "scoped scoped"}));
    EXPECT_EQ(text->value(), "last");
    second = text->observe([](const std::string&) {});
    text.reset();
    second.cancel(); // after the value is gone
}

} // namespace
} // namespace kavrel
