#include "CompanionCore/ipc/JSONValue.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>

namespace kavrel {
namespace {

static_assert(!std::is_constructible_v<JSONValue, const int*>, "a pointer must not become a boolean");

JSONValue nestedArrays(std::size_t depth, JSONValue innermost) {
    JSONValue value = std::move(innermost);
    for (std::size_t level = 0; level < depth; ++level) {
        JSONArray wrapper;
        wrapper.push_back(std::move(value));
        value = std::move(wrapper);
    }
    return value;
}

TEST(JSONValueTest, ReadsEachKindAsItsOwnCase) {
    EXPECT_EQ(JSONValue::parse("true"), JSONValue(true));
    EXPECT_EQ(JSONValue::parse("1"), JSONValue(1));
    EXPECT_EQ(JSONValue::parse("\"1\""), JSONValue("1"));
    EXPECT_TRUE(JSONValue::parse("null").isNull());
    EXPECT_EQ(JSONValue::parse("{}"), JSONValue(JSONObject{}));
    EXPECT_EQ(JSONValue::parse("[]"), JSONValue(JSONArray{}));
    EXPECT_EQ(
        JSONValue::parse(R"( {"a":[1,"x",null,false,{"b":-2.5}],"é":"\u00e9"} )"),
        JSONValue(JSONObject{{"a", JSONArray{1, "x", nullptr, false, JSONObject{{"b", -2.5}}}}, {"é", "é"}}));
    EXPECT_NE(JSONValue(1), JSONValue("1"));
    EXPECT_NE(JSONValue(1), JSONValue(true));
    EXPECT_NE(JSONValue(JSONObject{{"a", 1}}), JSONValue(JSONObject{{"b", 1}}));
    EXPECT_EQ(JSONValue(0.0), JSONValue(-0.0));
    EXPECT_NE(JSONValue(NAN), JSONValue(NAN));
}

TEST(JSONValueTest, RefusesTextThatIsNotOneValidValue) {
    const char* const refused[] = {
        "",
        " \r\n",
        "[1,2",
        "1 2",
        R"({"a":1,"a":2})",
        R"([{"k":{"x":1}},{"k":1,"k":1}])",
        "\"\xff\"",
        "\"\xc0\xaf\"",         // overlong "/"
        "\"\xed\xa0\x80\"",     // encoded surrogate
        "\"\xf4\x90\x80\x80\"", // beyond U+10FFFF
        "\"\\ud800\"",
        "{\"\xe9\":1}",
    };
    for (const char* text : refused) {
        EXPECT_THROW(JSONValue::parse(text), JSONError) << text;
    }
}

TEST(JSONValueTest, ReadsUpToTheDepthLimitAndRefusesDeeperText) {
    const auto brackets = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    EXPECT_EQ(JSONValue::parse(brackets(JSONValue::maxDepth)),
              nestedArrays(JSONValue::maxDepth - 1, JSONArray{}));
    EXPECT_THROW(JSONValue::parse(brackets(JSONValue::maxDepth + 1)), JSONError);
    EXPECT_THROW(JSONValue::parse(std::string(100'000, '[')), JSONError);
}

TEST(JSONValueTest, DeepValuesBuiltInCodeAreCopiedComparedAndDestroyedWithoutRecursion) {
    JSONValue deep = nestedArrays(1'000'000, "leaf");
    JSONValue copy = deep;
    EXPECT_EQ(copy, deep);

    JSONValue* innermost = &copy;
    while (JSONArray* elements = innermost->array()) {
        innermost = &elements->front();
    }
    *innermost = "changed";
    EXPECT_NE(copy, deep);

    EXPECT_THROW(deep.serialized(), JSONError);
    EXPECT_EQ(nestedArrays(JSONValue::maxDepth, 1).serialized().size(), 2 * JSONValue::maxDepth + 1);

    // Assigning a value its own child must not read freed memory.
    deep = std::move(deep.array()->front());
    EXPECT_TRUE(deep.array() != nullptr);
}

TEST(JSONValueTest, WritesCompactJSONWithEscapes) {
    EXPECT_EQ(JSONValue(JSONObject{{"b", "x"}, {"a", JSONArray{1, true, nullptr, -0.5}}}).serialized(),
              R"({"a":[1,true,null,-0.5],"b":"x"})");
    EXPECT_EQ(JSONValue("q\"b\\s/\n\t\x01\x1f\x7f").serialized(), R"("q\"b\\s/\n\t\u0001\u001f)"
                                                                  "\x7f\"");
    const std::string unicode = "é → 😀 \u2028";
    EXPECT_EQ(JSONValue(unicode).serialized(), "\"" + unicode + "\"");
    EXPECT_EQ(JSONValue::parse(JSONValue(JSONObject{{unicode, unicode}}).serialized()),
              JSONValue(JSONObject{{unicode, unicode}}));
}

TEST(JSONValueTest, RefusesToWriteWhatNoReaderWouldAccept) {
    const JSONValue unwritable[] = {
        std::numeric_limits<double>::infinity(),
        JSONArray{-std::numeric_limits<double>::infinity()},
        JSONObject{{"n", std::nan("")}},
        "\xff",
        "trailing \xc3",
        "\xe0\x80\x80",
        "\xed\xb0\x80",
        "\xf4\x90\x80\x80",
        JSONObject{{"\xc0\xaf", 1}},
    };
    for (const JSONValue& value : unwritable) {
        std::string out;
        EXPECT_THROW(value.serialize(out), JSONError);
    }
}

TEST(JSONValueTest, EveryFiniteDoubleReadsBackBitIdentical) {
    std::vector<double> samples = {0.0,
                                   -0.0,
                                   1.0,
                                   -1.0,
                                   0.1,
                                   9007199254740993.0,
                                   0x1p53 + 2,
                                   0x1p63,
                                   -0x1p63,
                                   0x1p64,
                                   1.2345678901234568e20,
                                   -1.2345678901234568e20,
                                   1e21,
                                   1e-7,
                                   DBL_MAX,
                                   -DBL_MAX,
                                   DBL_MIN,
                                   std::numeric_limits<double>::denorm_min(),
                                   -std::numeric_limits<double>::denorm_min(),
                                   std::nextafter(DBL_MIN, 0.0)};
    std::mt19937_64 random(20240611);
    while (samples.size() < 200'000) {
        const double candidate = std::bit_cast<double>(random());
        if (std::isfinite(candidate)) {
            samples.push_back(candidate);
        }
    }
    for (const double number : samples) {
        const std::string text = JSONValue(number).serialized();
        const std::optional<double> back = JSONValue::parse(text).number();
        ASSERT_TRUE(back.has_value()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*back), std::bit_cast<std::uint64_t>(number)) << text;
    }
}

} // namespace
} // namespace kavrel
