// Envelopes and line framing: what a line may hold in each direction, and how a byte stream is cut.

#include "CompanionCore/ipc/IPCError.hpp"
#include "CompanionCore/ipc/JSONLDecoder.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace kavrel {
namespace {

// "ok", "json" for the JSON reader's or writer's own error, or the IPCError's name.
std::string outcome(const std::function<void()>& action) {
    try {
        action();
    } catch (const IPCException& failure) {
        return std::string(toString(failure.error()));
    } catch (const JSONError&) {
        return "json";
    }
    return "ok";
}

std::string line(std::string_view id, std::string_view type = "result", std::string_view payload = "{}") {
    return R"({"v":1,"id":")" + std::string(id) + R"(","type":")" + std::string(type) + R"(","payload":)" +
           std::string(payload) + "}\n";
}

// Padding that makes {"v":1,"id":"a","type":"status","payload":{"s":"<padding>"}} `bytes` long.
std::string padding(std::size_t bytes) {
    return std::string(
        bytes - std::string_view(R"({"v":1,"id":"a","type":"status","payload":{"s":""}})").size(), 'x');
}

// Every supervisor test reads what was written back through Envelope::decode, one line at a time:
// that is where a line that does not read back as the same envelope shows.
TEST(EnvelopeTest, EncodingRefusesBrokenHeadersAndTextsOf262144Bytes) {
    Envelope version2("a", "status", {});
    version2.v = 2;
    const std::string euros129 = "€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€€"; // 43 characters
    const std::vector<std::tuple<const char*, Envelope, const char*>> rows{
        {"version 2", version2, "invalidFrame"},
        {"empty id", Envelope("", "status", {}), "invalidFrame"},
        {"id of 128 bytes", Envelope(std::string(128, 'i'), "status", {}), "ok"},
        {"id of 129 bytes", Envelope(std::string(129, 'i'), "status", {}), "invalidFrame"},
        {"id of 129 bytes in 43 characters", Envelope(euros129, "status", {}), "invalidFrame"},
        {"text of 262,143 bytes", Envelope("a", "status", {{"s", padding(262'143)}}), "ok"},
        {"text of 262,144 bytes", Envelope("a", "status", {{"s", padding(262'144)}}), "invalidFrame"},
    };
    for (const auto& [label, envelope, expected] : rows) {
        EXPECT_EQ(outcome([&framed = envelope] { framed.encodedLine(); }), expected) << label;
    }
}

// Each line follows a good one in the same chunk: a bad line fails the whole chunk with its own
// error and leaves exactly its bytes in the buffer.
TEST(JSONLDecoderTest, ChecksEveryInboundLineAndFailsTheWholeChunk) {
    const std::vector<std::tuple<const char*, std::string, std::string>> rows{
        {"other keys", R"({"v":1,"id":"a","type":"result","payload":{},"extra":[1]})", "ok"},
        {"carriage return", "{\"v\":1,\"id\":\"a\",\"type\":\"result\",\"payload\":{}}\r", "ok"},
        {"number beyond 64 bits", R"({"v":1,"id":"a","type":"result","payload":{"n":18446744073709551616}})",
         "ok"},
        {"number beyond a double", R"({"v":1,"id":"a","type":"result","payload":{"n":1e400}})", "json"},
        // The header's limits are the envelope's own; this row shows that they are checked here.
        {"id of 129 bytes", R"({"v":1,"id":")" + std::string(129, 'i') + R"(","type":"result","payload":{}})",
         "invalidFrame"},
        {"outbound type", R"({"v":1,"id":"a","type":"nativeSnapshot","payload":{}})", "invalidFrame"},
        {"empty line", "", "json"},
        {"version 1.5", R"({"v":1.5,"id":"a","type":"result","payload":{}})", "json"},
        {"version as text", R"({"v":"1","id":"a","type":"result","payload":{}})", "json"},
        {"no version", R"({"id":"a","type":"result","payload":{}})", "json"},
        {"no id", R"({"v":1,"type":"result","payload":{}})", "json"},
        {"no type", R"({"v":1,"id":"a","payload":{}})", "json"},
        {"type null", R"({"v":1,"id":"a","type":null,"payload":{}})", "json"},
        {"no payload", R"({"v":1,"id":"a","type":"result"})", "json"},
        {"payload array", R"({"v":1,"id":"a","type":"result","payload":[]})", "json"},
    };
    for (const auto& [label, text, expected] : rows) {
        JSONLDecoder decoder;
        std::vector<Envelope> decoded;
        const std::string chunk = line("good") + text + "\n{\"next";
        EXPECT_EQ(outcome([&] { decoded = decoder.append(chunk); }), expected) << label;
        EXPECT_EQ(decoded.size(), expected == "ok" ? 2u : 0u) << label;
        EXPECT_EQ(decoder.bufferedBytes(), expected == "ok" ? 6u : text.size()) << label;
    }
}

// A line of 262,143 bytes may arrive in pieces; a line of 262,144, or a 262,145th byte still without its
// line feed, is refused with the buffer full.
TEST(JSONLDecoderTest, CutsLinesAcrossChunksUpTo262143BytesAndRefusesAnyByteAt262144) {
    JSONLDecoder decoder;
    const std::string big = line("a", "status", R"({"s":")" + padding(262'143) + R"("})");
    EXPECT_EQ(decoder.append(line("A") + line("B", "status") + big.substr(0, 10)),
              (std::vector<Envelope>{Envelope("A", "result", {}), Envelope("B", "status", {})}));
    EXPECT_EQ(decoder.append(big.substr(10)).size(), 1u);
    // One more byte of text: a line of 262,144 bytes.
    EXPECT_EQ(outcome([&] { decoder.append(big.substr(0, 60) + "x" + big.substr(60)); }), "oversizedFrame");
    EXPECT_EQ(decoder.bufferedBytes(), 262'144u);

    JSONLDecoder endless;
    EXPECT_EQ(endless.append(line("a") + std::string(262'144, 'x')).size(), 1u);
    EXPECT_EQ(outcome([&] { endless.append("x"); }), "oversizedFrame");
    EXPECT_EQ(endless.bufferedBytes(), 262'144u);
}

} // namespace
} // namespace kavrel
