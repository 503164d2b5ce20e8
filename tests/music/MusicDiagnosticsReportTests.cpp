#include "CompanionCore/music/MusicDiagnosticsReport.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace kavrel {
namespace {

using MusicDiagnosticsReport::diagnosticReport;

JSONObject reportOf(const JSONObject& diagnostics) {
    return *JSONValue::parse(diagnosticReport(diagnostics)).object();
}

TEST(MusicDiagnosticsReport, KeepsOnlyAllowedKeysSortedAndPrettyPrinted) {
    const JSONObject diagnostics{
        {"stage", "ready"},
        {"automationStatus", 0},
        {"automationAllowed", true},
        {"identifierReadError", -1728},
        {"name", "Nocturne in E-flat major"},
        {"persistentID", "0123456789ABCDEF"},
        {"currentReferenceChain",
         JSONArray{JSONObject{{"descriptorType", 1869640813}, {"termination", "null"}, {"key", "Song"}}}},
    };
    EXPECT_EQ(diagnosticReport(diagnostics), "{\n"
                                             "  \"automationAllowed\" : true,\n"
                                             "  \"automationStatus\" : 0,\n"
                                             "  \"currentReferenceChain\" : [\n"
                                             "    {\n"
                                             "      \"descriptorType\" : 1869640813,\n"
                                             "      \"termination\" : \"null\"\n"
                                             "    }\n"
                                             "  ],\n"
                                             "  \"identifierReadError\" : -1728,\n"
                                             "  \"schemaVersion\" : 1,\n"
                                             "  \"stage\" : \"ready\"\n"
                                             "}");
}

TEST(MusicDiagnosticsReport, ValuesOfTheWrongKindAreLeftOut) {
    EXPECT_EQ(diagnosticReport(JSONObject{{"currentReferenceChain", JSONArray{}}}),
              "{\n  \"currentReferenceChain\" : [],\n  \"schemaVersion\" : 1\n}");
    const JSONObject diagnostics{
        {"libraryLookupError", "-1728"},         // a code as text
        {"currentReferenceClass", std::nan("")}, // not finite
        {"favoriteReadError", JSONArray{1}},
        {"favoriteWritable", 1}, // a number where a Boolean belongs
        {"cachedReference", "true"},
        {"stage", "Playing: Nocturne"},                  // not one of the stages
        {"schemaVersion", 7},                            // cannot be overridden
        {"currentReferenceChain", JSONObject{{"0", 1}}}, // not an array
    };
    EXPECT_EQ(reportOf(diagnostics), (JSONObject{{"schemaVersion", 1}}));
}

TEST(MusicDiagnosticsReport, ChainKeepsItsFirstEightEntriesFilteredOneByOne) {
    JSONArray chain;
    chain.push_back("not an object"); // counted among the eight, then dropped
    chain.push_back(JSONObject{
        {"descriptorType", 4294967295.0}, // the largest four-character code
        {"referenceClass", 4294967296.0},
        {"referenceForm", -1},
        {"fieldCount", 2.5},
        {"identifierType", "long"},
        {"identifierSize", 4},
        {"classValid", true},
        {"formValid", "yes"},
        {"identifierNonzero", false},
        {"termination", "unknown_reason"},
        {"identifier", 123456},
    });
    for (int index = 0; index < 10; ++index) {
        chain.push_back(JSONObject{{"fieldCount", index}, {"termination", "depth_limit"}});
    }
    const auto report = reportOf(JSONObject{{"currentReferenceChain", chain}});
    const auto& kept = *report.at("currentReferenceChain").array();
    ASSERT_EQ(kept.size(), 7u);
    EXPECT_EQ(kept[0], JSONValue(JSONObject{{"descriptorType", 4294967295.0},
                                            {"identifierSize", 4},
                                            {"classValid", true},
                                            {"identifierNonzero", false}}));
    EXPECT_EQ(kept[6], JSONValue(JSONObject{{"fieldCount", 5}, {"termination", "depth_limit"}}));
}

} // namespace
} // namespace kavrel
