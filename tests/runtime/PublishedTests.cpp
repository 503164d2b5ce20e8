#include "CompanionCore/runtime/Published.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrel {
namespace {

TEST(Published, ObserversHearTheNewValueBeforeItIsStored) {
    Published<std::string> text("old");
    std::vector<std::pair<std::string, std::string>> seen; // (value at the time, new value)
    const auto subscription =
        text.observe([&](const std::string& next) { seen.emplace_back(text.value(), next); });
    text.set("new");
    text.set("new");
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{"old", "new"}, {"new", "new"}}));
    EXPECT_EQ(text.value(), "new");
}

TEST(Published, CancellingStopsNotificationsEvenFromInsideAnotherObserver) {
    Published<int> number(0);
    int firstCalls = 0;
    int secondCalls = 0;
    Cancellable second;
    Cancellable first = number.observe([&](int) {
        ++firstCalls;
        second.cancel();
    });
    second = number.observe([&](int) { ++secondCalls; });
    number.set(1);
    first.cancel();
    number.set(2);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);

    {
        const auto scoped = number.observe([&](int) { ++secondCalls; });
        number.set(3);
    }
    number.set(4);
    EXPECT_EQ(secondCalls, 1);
}

TEST(Published, ASubscriptionMayOutliveTheValue) {
    Cancellable subscription;
    {
        Published<int> number(0);
        subscription = number.observe([](int) {});
    }
    subscription.cancel();
    SUCCEED();
}

} // namespace
} // namespace kavrel
