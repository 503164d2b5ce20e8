#include "CompanionCore/runtime/Published.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrel {
namespace {

TEST(Published, ObserversHearEverySetBeforeTheValueChanges) {
    Published<std::string> text("old");
    std::vector<std::pair<std::string, std::string>> seen; // (value at the time, new value)
    const auto subscription =
        text.observe([&](const std::string& next) { seen.emplace_back(text.value(), next); });
    text.set("new");
    text.set("new");
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{"old", "new"}, {"new", "new"}}));
    EXPECT_EQ(text.value(), "new");
}

TEST(Published, CancellingStopsNotificationsFromAnywhereAndMayOutliveTheValue) {
    auto number = std::make_unique<Published<int>>(0);
    int firstCalls = 0;
    int secondCalls = 0;
    Cancellable second;
    Cancellable first = number->observe([&](int) {
        ++firstCalls;
        second.cancel(); // from inside another observer, before it is told
    });
    second = number->observe([&](int) { ++secondCalls; });
    number->set(1);
    first.cancel();
    {
        const auto scoped = number->observe([&](int) { ++secondCalls; });
        number->set(2);
    }
    number->set(3);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 1);
    second = number->observe([](int) {});
    number.reset();
    second.cancel();
}

} // namespace
} // namespace kavrel
