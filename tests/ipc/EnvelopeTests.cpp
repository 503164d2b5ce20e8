#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/ipc/IPCError.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace kavrel {
namespace {

IPCError encodingFailure(const Envelope& envelope) {
    try {
        envelope.encodedLine();
    } catch (const IPCException& failure) {
        return failure.error();
    }
    ADD_FAILURE() << "encodedLine accepted an invalid envelope";
    return IPCError::commandTimeout;
}

TEST(EnvelopeTest, EncodesOneCompactLineThatDecodesToTheSameEnvelope) {
    EXPECT_EQ(Envelope("A1", "status", {}).encodedLine(),
              "{\"v\":1,\"id\":\"A1\",\"type\":\"status\",\"payload\":{}}\n");

    const Envelope rich(
        "7F3C", "nativeResult",
        {{"ok", true}, {"data", JSONObject{{"list", JSONArray{1.5, "two\nlines", nullptr}}}}});
    std::string line = rich.encodedLine();
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    line.pop_back();
    EXPECT_EQ(Envelope::decode(line), rich);
}

TEST(EnvelopeTest, EncodingRefusesInvalidHeadersAndOversizedText) {
    Envelope wrongVersion("a", "status", {});
    wrongVersion.v = 2;
    EXPECT_EQ(encodingFailure(wrongVersion), IPCError::invalidFrame);
    EXPECT_EQ(encodingFailure(Envelope("", "status", {})), IPCError::invalidFrame);
    EXPECT_EQ(encodingFailure(Envelope(std::string(maxIdentifierBytes + 1, 'i'), "status", {})),
              IPCError::invalidFrame);
    EXPECT_NO_THROW(Envelope(std::string(maxIdentifierBytes, 'i'), "status", {}).encodedLine());

    // A payload that cannot be written fails with the writer's error, before any framing rule.
    EXPECT_THROW(Envelope("", "status", {{"n", std::nan("")}}).encodedLine(), JSONError);

    const std::size_t overhead = Envelope("a", "status", {{"s", ""}}).encodedLine().size() - 1;
    const auto withTextOf = [overhead](std::size_t bytes) {
        return Envelope("a", "status", {{"s", std::string(bytes - overhead, 'x')}});
    };
    EXPECT_EQ(withTextOf(frameLimit - 1).encodedLine().size(), frameLimit);
    EXPECT_EQ(encodingFailure(withTextOf(frameLimit)), IPCError::invalidFrame);
}

TEST(EnvelopeTest, DecodingReadsTheFourKeysStrictly) {
    struct Case {
        std::string fields;
        std::optional<std::int64_t> version; // none: the read must fail
    };
    const Case cases[] = {
        {R"("v":1,"id":"a","type":"t","payload":{})", 1},
        {R"("v":2,"id":"a","type":"t","payload":{})", 2},
        {R"("v":1.0,"id":"a","type":"t","payload":{})", 1},
        {R"("v":1e0,"id":"a","type":"t","payload":{})", 1},
        {R"("v":9223372036854775807,"id":"a","type":"t","payload":{})", INT64_MAX},
        {R"("v":1,"id":"a","type":"t","payload":{},"extra":[{"deep":null}])", 1},
        {R"("v":1.5,"id":"a","type":"t","payload":{})", std::nullopt},
        {R"("v":"1","id":"a","type":"t","payload":{})", std::nullopt},
        {R"("v":true,"id":"a","type":"t","payload":{})", std::nullopt},
        {R"("v":9223372036854775808,"id":"a","type":"t","payload":{})", std::nullopt},
        {R"("v":1e19,"id":"a","type":"t","payload":{})", std::nullopt},
        {R"("id":"a","type":"t","payload":{})", std::nullopt},
        {R"("v":1,"type":"t","payload":{})", std::nullopt},
        {R"("v":1,"id":"a","payload":{})", std::nullopt},
        {R"("v":1,"id":"a","type":"t")", std::nullopt},
        {R"("v":1,"id":"a","type":"t","payload":[])", std::nullopt},
        {R"("v":1,"id":"a","type":"t","payload":null)", std::nullopt},
        {R"("v":1,"id":1,"type":"t","payload":{})", std::nullopt},
        {R"("v":1,"id":"a","type":null,"payload":{})", std::nullopt},
        {R"("v":1,"id":"a","id":"b","type":"t","payload":{})", std::nullopt},
        {R"("v":1,"id":"a","type":"t","payload":{},"x":1,"x":2)", std::nullopt},
        {R"("v":1,"id":"a","type":"t","payload":{},"x":{"y":1,"y":1})", std::nullopt},
    };
    for (const Case& item : cases) {
        const std::string json = "{" + item.fields + "}";
        if (item.version) {
            EXPECT_EQ(Envelope::decode(json).v, *item.version) << json;
        } else {
            EXPECT_THROW(Envelope::decode(json), JSONError) << json;
        }
    }
    EXPECT_THROW(Envelope::decode("[]"), JSONError);
}

} // namespace
} // namespace kavrel
