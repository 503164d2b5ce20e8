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

TEST(JSONValueTest, ReadsEachKindAsItsOwnCaseComparesStructurallyAndRefusesTextThatIsNotOneValidValue) {
    // clang-format off
    const std::vector<std::pair<const char*, JSONValue>> rows{
        {"true", true}, {"1", 1}, {"\"1\"", "1"}, {"null", nullptr}, {"{}", JSONObject{}}, {"[]", JSONArray{}},
        {R"( {"a":[1,"x",null,false,{"b":-2.5}],"é":"\u00e9"} )",
         JSONObject{{"a", JSONArray{1, "x", nullptr, false, JSONObject{{"b", -2.5}}}}, {"é", "é"}}},
        // Beyond 64 bits a valid number reads as the nearest double, and nothing else in its text changes.
        {"18446744073709551616", 18446744073709551616.0}, {"-18446744073709551616", -18446744073709551616.0},
        {"123456789012345678901234567890", 1.2345678901234568e29}, {"1e-400", 0.0},
        {"12345678901234567890e280", 1.2345678901234568e299},
        {R"({"big":18446744073709551616,"s":"1e400 \"18446744073709551616","a":[1.5,-2,0,3e2]})",
         JSONObject{{"big", 0x1p64}, {"s", "1e400 \"18446744073709551616"}, {"a", JSONArray{1.5, -2, 0, 300}}}}};
    // clang-format on
    for (const auto& [text, value] : rows) {
        EXPECT_EQ(JSONValue::parse(text), value) << text;
    }
    EXPECT_NE(JSONValue(1), JSONValue("1"));
    EXPECT_NE(JSONValue(1), JSONValue(true));
    EXPECT_NE(JSONValue(JSONArray{1, 2}), JSONValue(JSONArray{2, 1}));
    EXPECT_TRUE(std::signbit(*JSONValue::parse("[18446744073709551616,-0.0]").array()->at(1).number()));

    // Text that is not one valid value is refused.
    // clang-format off
    const char* const refused[] = {"", " \r\n", "[1,2", "1 2", R"({"a":1,"a":2})", "\"\xff\"", "\"\xc0\xaf\"",
                                   "\"\xed\xa0\x80\"", "\"\xf4\x90\x80\x80\"", "\"\\ud800\"", "{\"\xe9\":1}",
                                   "1e400", "-1e400", "1.7976931348623159e308", "[18446744073709551616,01]",
                                   "[18446744073709551616,1.]", "[18446744073709551616,+1]", "[18446744073709551616,.5]",
                                   "[18446744073709551616,1e]", "[18446744073709551616,-]", "[18446744073709551616,0x1]",
                                   "[18446744073709551616,1.5.3]"};
    // clang-format on
    for (const char* text : refused) {
        EXPECT_THROW(JSONValue::parse(text), JSONError) << text;
    }
    // A frame-sized run that is no number is refused in one pass, not read again at every digit (found
    // by fuzzing: that took minutes on one line).
    EXPECT_THROW(JSONValue::parse("[18446744073709551616," + std::string(262'000, '0') + "]"), JSONError);
}

TEST(JSONValueTest, NestingIsReadAndWrittenTo512LevelsAndRefusedAt513) {
    const auto brackets = [](std::size_t levels) {
        return std::string(levels, '[') + std::string(levels, ']');
    };
    EXPECT_EQ(JSONValue::parse(brackets(512)).serialized(), brackets(512));
    EXPECT_THROW(JSONValue::parse(brackets(513)), JSONError);

    JSONValue deep = JSONArray{JSONValue::parse(brackets(512))};
    EXPECT_THROW(deep.serialized(), JSONError);
    // Assigning a value its own child must not read freed memory.
    deep = std::move(deep.array()->front());
    EXPECT_EQ(deep.serialized(), brackets(512));
}

// Any compact form will do: no whitespace outside strings, control characters escaped, and the
// text reads back as the same value.
TEST(JSONValueTest, WritesCompactJSONThatReadsBackBitIdenticalAndRefusesWhatNoReaderWouldAccept) {
    const std::string text = "q\"b\\s/\n\t\x01\x1f\x7fé→😀\u2028";
    const JSONValue value(JSONObject{{text, JSONArray{1, true, nullptr, -0.5, text, JSONObject{}}}});
    const std::string written = value.serialized();
    EXPECT_EQ(written.find_first_of(std::string(" \n\t\x01\x1f", 5)), std::string::npos) << written;
    EXPECT_EQ(JSONValue::parse(written), value);

    // clang-format off
    const JSONValue unwritable[] = {std::numeric_limits<double>::infinity(), JSONObject{{"n", std::nan("")}},
                                    JSONArray{-std::numeric_limits<double>::infinity()}, "\xff",
                                    "trailing \xc3", "\xed\xb0\x80", JSONObject{{"\xc0\xaf", 1}}};
    // clang-format on
    for (const JSONValue& value : unwritable) {
        EXPECT_THROW(value.serialized(), JSONError);
    }

    // Every finite double, random ones included, reads back bit-identical.
    // clang-format off
    const double samples[] = {0.0, -0.0, 0.1, 9007199254740993.0, 0x1p63, 0x1p64, 1e21, 1e-7, DBL_MAX, -DBL_MAX,
                              DBL_MIN, std::numeric_limits<double>::denorm_min(), std::nextafter(DBL_MIN, 0.0)};
    // clang-format on
    std::mt19937_64 random(20240611);
    for (int index = 0; index < 4'000; ++index) {
        const double number = index < std::ssize(samples) ? samples[index] : std::bit_cast<double>(random());
        if (std::isfinite(number)) {
            const std::string text = JSONValue(number).serialized();
            ASSERT_EQ(std::bit_cast<std::uint64_t>(JSONValue::parse(text).number().value()),
                      std::bit_cast<std::uint64_t>(number))
                << text;
        }
    }
}

} // namespace
} // namespace kavrel
