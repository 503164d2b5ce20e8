#include "CompanionCore/model/CloudStatus.hpp"
#include "CompanionCore/model/UnicodeWhitespace.hpp"
#include "support/ExpectedTexts.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

using namespace expected;

TEST(CloudStatusText, OnlyKnownStringCodesGiveALine) {
    const std::vector<std::pair<JSONObject, std::string>> rows = {
        {{{"code", "authorization_invalid"}}, cloudReauthorize},
        {{{"code", "legal_acceptance_required"}}, cloudTerms},
        {{{"code", "connection_unavailable"}}, cloudWaiting},
        {{{"code", 3}}, ""},
        {{{"code", "new_code"}}, ""}};
    for (const auto& [cloud, text] : rows) {
        EXPECT_EQ(CloudStatus::message(&cloud), text);
    }
    EXPECT_EQ(CloudStatus::message(nullptr), "");
}

TEST(ScrobblingStatusText, BaseTextThenTheCountsInTheirOrder) {
    const std::string dot = separator;
    EXPECT_EQ(ScrobblingStatus::message(nullptr), scrobblingUnknown);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"{}", scrobblingOff},
        {R"({"enabled":true,"pending":3,"checking":1,"ignored":5,"dropped":2})",
         scrobblingOn + dot + "3" + scrobblingPending + dot + scrobblingChecking + "1" + scrobblingUncertain +
             dot + "5" + scrobblingIgnored + dot + "2" + scrobblingDropped},
        {R"({"code":"storage_full","enabled":true,"pending":2.9})",
         scrobblingStorage + dot + "2" + scrobblingPending},
        // Implausible counts read as none; an empty code lets "enabled" decide.
        {R"({"code":"","enabled":"yes","pending":0.5,"checking":-1,"ignored":100001,"dropped":"4"})",
         scrobblingOff},
        {R"({"code":"authorization_invalid","enabled":true})", scrobblingRelogin},
        {R"({"code":"connection_unavailable","pending":100000})",
         scrobblingWaiting + dot + "100000" + scrobblingPending},
        {R"({"code":"rate_limited"})", scrobblingWaiting}};
    for (const auto& [json, text] : rows) {
        const JSONObject scrobbling = *JSONValue::parse(json).object();
        EXPECT_EQ(ScrobblingStatus::message(&scrobbling), text) << json;
    }
}

TEST(UnicodeWhitespaceTrim, TrimsEveryWhiteSpaceCodePointAndNothingElse) {
    // The whole White_Space class, on both sides.
    const std::string space = "\t\n\v\f\r \u0085\u00A0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007"
                              "\u2008\u2009\u200A\u2028\u2029\u202F\u205F\u3000";
    EXPECT_EQ(UnicodeWhitespace::trimmed(space + "code" + space), "code");
    for (const std::string kept : {"a\u00A0b", "\u200B x \u200B", "\u180E\uFEFF", "\xE2\x80 x \xA0"}) {
        EXPECT_EQ(UnicodeWhitespace::trimmed(kept), kept); // inner space, zero width, broken UTF-8
    }
}

} // namespace
} // namespace kavrel
