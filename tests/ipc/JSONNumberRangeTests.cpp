#include "CompanionCore/ipc/JSONLDecoder.hpp"
#include "CompanionCore/ipc/JSONValue.hpp"
#include "support/JSONPrinting.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace kavrel {
namespace {

TEST(JSONNumberRangeTest, ValidNumbersBeyondSixtyFourBitsReadAsTheNearestDouble) {
    struct Case {
        std::string json;
        std::optional<double> number; // none: refused
    };
    const Case cases[] = {
        {"18446744073709551616", 18446744073709551616.0},
        {"-18446744073709551616", -18446744073709551616.0},
        {"123456789012345678901234567890", 1.2345678901234568e29},
        {"12345678901234567890e280", 1.2345678901234568e299},
        {"1e-400", 0.0},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
        {"1.7976931348623159e308", std::nullopt},
    };
    for (const Case& item : cases) {
        const std::string json = R"({"n":)" + item.json + "}";
        if (item.number) {
            EXPECT_EQ(JSONValue::parse(json), JSONValue(JSONObject{{"n", *item.number}})) << json;
        } else {
            EXPECT_THROW(JSONValue::parse(json), JSONError) << json;
        }
    }
}

TEST(JSONNumberRangeTest, ABigIntegerChangesNothingElseInItsText) {
    const JSONValue value =
        JSONValue::parse(R"({"big":18446744073709551616,"s":"1e400 \"18446744073709551616","z":-0.0,)"
                         R"("a":[1.5,-2,0,3e2]})");
    const JSONObject& members = *value.object();
    EXPECT_EQ(*members.at("s").string(), "1e400 \"18446744073709551616");
    EXPECT_TRUE(std::signbit(*members.at("z").number()));
    EXPECT_EQ(members.at("a"), JSONValue(JSONArray{1.5, -2, 0, 300}));

    // Invalid numbers stay invalid next to a big one.
    for (const char* invalid : {"01", "1.", "+1", ".5", "1e", "-", "0x1", "1.5.3"}) {
        const std::string json = std::string(R"({"big":18446744073709551616,"bad":)") + invalid + "}";
        EXPECT_THROW(JSONValue::parse(json), JSONError) << json;
    }
}

TEST(JSONNumberRangeTest, AConnectorStatusWithABigIntegerIsNoProtocolError) {
    JSONLDecoder decoder;
    const auto envelopes = decoder.append(
        "{\"v\":1,\"id\":\"s\",\"type\":\"status\",\"payload\":{\"plays\":18446744073709551616}}\n");
    ASSERT_EQ(envelopes.size(), 1U);
    EXPECT_EQ(envelopes[0].payload.at("plays"), JSONValue(18446744073709551616.0));
    EXPECT_THROW(decoder.append("{\"v\":1,\"id\":\"s\",\"type\":\"status\",\"payload\":{\"n\":1e400}}\n"),
                 JSONError);
}

} // namespace
} // namespace kavrel
