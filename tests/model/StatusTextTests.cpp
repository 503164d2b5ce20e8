#include "CompanionCore/model/CloudStatus.hpp"
#include "CompanionCore/model/UnicodeWhitespace.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

TEST(CloudStatusText, OnlyKnownStringCodesGiveALine) {
    const JSONObject paused{{"code", "authorization_invalid"}};
    EXPECT_EQ(CloudStatus::message(&paused),
              "Cloud uploads paused. Pair again using a new code from Kavrel Settings.");
    const JSONObject waiting{{"code", "connection_unavailable"}};
    EXPECT_EQ(CloudStatus::message(&waiting),
              "Waiting for a cloud connection. Pending plays remain on this Mac.");
    for (const JSONObject& other :
         {JSONObject{}, JSONObject{{"code", 3}}, JSONObject{{"code", "new_code"}}}) {
        EXPECT_EQ(CloudStatus::message(&other), "");
    }
    EXPECT_EQ(CloudStatus::message(nullptr), "");
}

TEST(ScrobblingStatusText, BaseTextThenTheCountsInTheirOrder) {
    EXPECT_EQ(ScrobblingStatus::message(nullptr), "Enable Apple Music scrobbling in Kavrel Settings.");
    const JSONObject empty;
    EXPECT_EQ(ScrobblingStatus::message(&empty),
              "Scrobbling off. Enable Apple Music scrobbling in Kavrel Settings.");

    const JSONObject counted{
        {"enabled", true}, {"pending", 3}, {"checking", 1}, {"ignored", 5}, {"dropped", 2}};
    EXPECT_EQ(
        ScrobblingStatus::message(&counted),
        "Scrobbling to Last.fm · 3 pending · Checking 1 uncertain submissions · 5 plays not accepted by "
        "Last.fm · 2 plays expired or exceeded queue capacity");

    const JSONObject storage{{"code", "storage_full"}, {"enabled", true}, {"pending", 2.9}};
    EXPECT_EQ(
        ScrobblingStatus::message(&storage),
        "Scrobbling paused: local storage could not be saved. Restart the companion to retry. · 2 pending");

    // Implausible counts read as none; an empty code lets "enabled" decide.
    const JSONObject odd{{"code", ""},     {"enabled", "yes"},   {"pending", 0.5},
                         {"checking", -1}, {"ignored", 100'001}, {"dropped", "4"}};
    EXPECT_EQ(ScrobblingStatus::message(&odd),
              "Scrobbling off. Enable Apple Music scrobbling in Kavrel Settings.");

    const JSONObject relogin{{"code", "authorization_invalid"}};
    EXPECT_EQ(ScrobblingStatus::message(&relogin),
              "Reconnect Last.fm in Kavrel Settings to resume scrobbling.");
    const JSONObject other{{"code", "connection_unavailable"}, {"pending", 100'000}};
    EXPECT_EQ(ScrobblingStatus::message(&other),
              "Scrobbling is waiting for a connection. Pending plays remain on this Mac. · 100000 pending");
}

TEST(UnicodeWhitespaceTrim, TrimsEveryWhiteSpaceCodePointAndNothingElse) {
    EXPECT_EQ(UnicodeWhitespace::trimmed("\t\u00A0\u2028 code \u3000\u205F\r\n"), "code");
    EXPECT_EQ(UnicodeWhitespace::trimmed("a\u00A0b"), "a\u00A0b");
    EXPECT_EQ(UnicodeWhitespace::trimmed("\u200B x \u200B"),
              "\u200B x \u200B"); // zero width: not white space
    EXPECT_EQ(UnicodeWhitespace::trimmed(" \u2029\u1680\u0085"), "");
    // Broken UTF-8 is kept, and a lone continuation byte is not mistaken for a space's tail.
    EXPECT_EQ(UnicodeWhitespace::trimmed("\xE2\x80 x \xA0"), "\xE2\x80 x \xA0");
    EXPECT_EQ(UnicodeWhitespace::trimmed("é\u00A0"), "é");
}

} // namespace
} // namespace kavrel
