#include "CompanionCore/ipc/IPCError.hpp"
#include "CompanionCore/ipc/JSONLDecoder.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kavrel {
namespace {

std::string line(std::string_view id, std::string_view type = "result", std::string_view payload = "{}") {
    return R"({"v":1,"id":")" + std::string(id) + R"(","type":")" + std::string(type) + R"(","payload":)" +
           std::string(payload) + "}\n";
}

// A line whose JSON text holds exactly `bytes` bytes, line feed not counted.
std::string lineOfTextSize(std::size_t bytes) {
    const std::size_t overhead = line("a", "status", R"({"s":""})").size() - 1;
    return line("a", "status", R"({"s":")" + std::string(bytes - overhead, 'x') + R"("})");
}

// The failure of `append`: an IPCError, or none for the JSON reader's error.
std::optional<IPCError> failureOf(JSONLDecoder& decoder, std::string_view chunk) {
    try {
        decoder.append(chunk);
    } catch (const IPCException& failure) {
        return failure.error();
    } catch (const JSONError&) {
        return std::nullopt;
    }
    ADD_FAILURE() << "append accepted: " << chunk.substr(0, 200);
    return IPCError::commandTimeout;
}

TEST(JSONLDecoderTest, ReturnsCompletedLinesInOrderAndKeepsThePartialOne) {
    JSONLDecoder decoder;
    const std::string third = line("C", "nativeCommand");
    const auto first = decoder.append(line("A") + line("B", "status") + third.substr(0, 10));
    ASSERT_EQ(first.size(), 2U);
    EXPECT_EQ(first[0].id, "A");
    EXPECT_EQ(first[1].type, "status");
    EXPECT_TRUE(decoder.hasPartialFrame());

    const auto rest = decoder.append(third.substr(10));
    ASSERT_EQ(rest.size(), 1U);
    EXPECT_EQ(rest[0], Envelope("C", "nativeCommand", {}));
    EXPECT_FALSE(decoder.hasPartialFrame());

    std::string crlf = line(std::string(maxIdentifierBytes, 'i'));
    crlf.insert(crlf.size() - 1, "\r");
    EXPECT_EQ(decoder.append(crlf).size(), 1U);
}

TEST(JSONLDecoderTest, FailsTheWholeChunkAndKeepsTheBytesBeforeTheFailingOne) {
    struct Case {
        std::string badLine;
        std::optional<IPCError> failure;
    };
    const Case cases[] = {
        {"\n", std::nullopt},
        {"not json\n", std::nullopt},
        {R"({"v":1,"id":"a","type":"result"})"
         "\n",
         std::nullopt},
        {line("a", "result", "[]"), std::nullopt},
        {R"({"v":2,"id":"a","type":"result","payload":{}})"
         "\n",
         IPCError::invalidFrame},
        {line(""), IPCError::invalidFrame},
        {line(std::string(maxIdentifierBytes + 1, 'i')), IPCError::invalidFrame},
        {line("a", "nativeSnapshot"), IPCError::invalidFrame},
    };
    for (const Case& item : cases) {
        JSONLDecoder decoder;
        EXPECT_EQ(failureOf(decoder, line("good") + item.badLine + "{\"next"), item.failure) << item.badLine;
        EXPECT_EQ(decoder.bufferedBytes(), item.badLine.size() - 1) << item.badLine;
    }
}

TEST(JSONLDecoderTest, RefusesEveryByteOnceTheBufferReachesTheLimit) {
    JSONLDecoder decoder;
    EXPECT_EQ(decoder.append(lineOfTextSize(JSONLDecoder::limit - 1)).size(), 1U);

    EXPECT_EQ(failureOf(decoder, lineOfTextSize(JSONLDecoder::limit)), IPCError::oversizedFrame);
    EXPECT_EQ(decoder.bufferedBytes(), JSONLDecoder::limit);

    JSONLDecoder filling;
    const std::string longLine = lineOfTextSize(JSONLDecoder::limit + 100);
    EXPECT_TRUE(filling.append(longLine.substr(0, JSONLDecoder::limit)).empty());
    EXPECT_TRUE(filling.append("").empty());
    EXPECT_EQ(failureOf(filling, longLine.substr(JSONLDecoder::limit)), IPCError::oversizedFrame);
    EXPECT_EQ(filling.bufferedBytes(), JSONLDecoder::limit);

    JSONLDecoder overflowing;
    EXPECT_EQ(failureOf(overflowing, line("a") + longLine), IPCError::oversizedFrame);
    EXPECT_EQ(overflowing.bufferedBytes(), JSONLDecoder::limit);
}

TEST(JSONLDecoderTest, AnySplitOfTheStreamGivesTheSameEnvelopes) {
    std::string stream;
    std::vector<Envelope> expected;
    for (const std::size_t size : {60U, 5'000U, 70U, 200'000U, 61U, 9'000U}) {
        const std::string next = lineOfTextSize(size);
        stream += next;
        expected.push_back(Envelope::decode(std::string_view(next).substr(0, next.size() - 1)));
    }
    std::mt19937_64 random(7);
    for (int round = 0; round < 50; ++round) {
        JSONLDecoder decoder;
        std::vector<Envelope> decoded;
        std::size_t offset = 0;
        while (offset < stream.size()) {
            const std::size_t length = round == 0 ? 1 : random() % 20'000;
            for (Envelope& envelope : decoder.append(std::string_view(stream).substr(offset, length))) {
                decoded.push_back(std::move(envelope));
            }
            offset += length;
        }
        ASSERT_EQ(decoded, expected) << "round " << round;
        EXPECT_FALSE(decoder.hasPartialFrame());
    }
}

} // namespace
} // namespace kavrel
