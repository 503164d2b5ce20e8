// The storage key goes to the connector on its standard input and nowhere else: not into its
// arguments or environment (which other processes can read), not into a line the companion shows or
// writes, not into an exception message, whatever the connector answers.

#include "CompanionCore/ipc/JSONError.hpp"
#include "CompanionCore/ipc/JSONLDecoder.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "hardening/ConnectorRig.hpp"
#include "support/ExpectedTexts.hpp"

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace kavrel {
namespace {

std::string readWhole(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// A rig whose secret store already holds a key, so the test knows it before the connector starts.
class StorageKeyLeakTest : public ::testing::Test {
protected:
    StorageKeyLeakTest() {
        SecretBytes bytes(StorageKey::keyBytes);
        EXPECT_TRUE(StorageKey::systemRandom(bytes.span()));
        rig.secrets.put(StorageKey::service, StorageKey::account, bytes);
        key = StorageKey::loadOrCreate(rig.secrets, false);
    }

    bool carriesKey(std::string_view text) const { return text.find(key) != std::string_view::npos; }

    std::string redacted(std::string text) const {
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) {
            text.replace(at, key.size(), "<storage key>");
        }
        return text;
    }

    ConnectorRig rig;
    std::string key;
};

// Everything this process writes to its standard output and error meanwhile is captured: the test
// framework's output and any log line included. The companion is non-dumpable, to keep the key out of
// core dumps; the connector is another program and keeps its own.
TEST_F(StorageKeyLeakTest, OnlyTheConnectorsInputCarriesTheKeyWhateverTheConnectorDoes) {
    ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 0), 0);
    const std::shared_ptr<void> restoreDumpable(nullptr, [](void*) { ::prctl(PR_SET_DUMPABLE, 1); });
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    // A connector that turns the key back as its refusal code: unknown codes get the generic text.
    rig.misbehave(R"({"refuseInitialize":")" + key + R"("})");
    rig.supervisor->launch();
    EXPECT_TRUE(rig.runUntil([&] { return rig.launcher.exits() == 1; }));
    rig.misbehave(R"({"garbageLine":true,"faultsAfterCommands":2})");
    rig.supervisor->reconnect();
    EXPECT_TRUE(rig.runUntil([&] { return rig.launcher.exits() == 2; }));
    rig.misbehave(R"({"reportDumpable":true})");
    rig.supervisor->reconnect();
    EXPECT_TRUE(rig.runUntil([&] { return rig.readyCalls == 2; }));
    for (const auto& [type, payload] :
         std::vector<std::pair<std::string, JSONObject>>{{"pair", {{"code", "123456"}, {"replace", false}}},
                                                         {"configure",
                                                          {{"bridgeOrigin", "https://kavrel.example"},
                                                           {"roonHost", ""},
                                                           {"appleMusicEnabled", true},
                                                           {"roonEnabled", false}}},
                                                         {"start", {}},
                                                         {"status", {}}}) {
        const auto reply = rig.sendAndWait(type, payload);
        EXPECT_TRUE(reply && reply->payload.at("ok") == JSONValue(true)) << type;
        EXPECT_FALSE(reply && carriesKey(JSONValue(reply->payload).serialized())) << type;
    }
    const auto status = rig.supervisor->status().value();
    EXPECT_TRUE(status.contains("dumpable") && status.at("dumpable") == JSONValue(true));
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE), 0);
    // The stand-in accepts the handshake only with a well-formed key: it got one, on its input.
    const auto process = std::filesystem::path("/proc") / std::to_string(rig.launcher.processIds.at(2));
    const auto arguments = readWhole(process / "cmdline") + readWhole(process / "environ");
    EXPECT_FALSE(arguments.empty());
    EXPECT_FALSE(carriesKey(arguments)) << redacted(arguments);
    rig.supervisor->shutdown();
    rig.loop.runUntilIdle();
    const std::string output =
        ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
    std::cout << redacted(output);

    EXPECT_EQ(rig.launcher.spawns(), 3u) << rig.describe();
    EXPECT_EQ(rig.messages.at(1), expected::describeGeneric);
    for (const auto& line : rig.messages) {
        EXPECT_FALSE(carriesKey(line)) << redacted(line);
    }
    for (const auto& status : rig.statuses) {
        EXPECT_FALSE(carriesKey(JSONValue(status).serialized()));
    }
    EXPECT_FALSE(carriesKey(output));
    // The connector's state holds no copy of it either.
    EXPECT_FALSE(carriesKey(readWhole(rig.directory / "config.json")));
}

TEST_F(StorageKeyLeakTest, FramingAndReadingErrorsNeverQuoteTheLineThatCarriedTheKey) {
    const std::string head = R"({"v":1,"id":"a","type":"result","payload":)";
    const std::vector<std::string> lines{
        head + R"({"storageKey":")" + key + R"("}} trailing)",
        head + R"({"storageKey":")" + key,
        R"({"v":1,"id":")" + key + key + key + R"(","type":"result","payload":{}})",
        R"({"v":1,"id":"a","type":")" + key + R"(","payload":{}})",
        head + R"({"k":")" + key + "\xff" + R"("}})",
    };
    for (const auto& line : lines) {
        JSONLDecoder decoder;
        try {
            decoder.append(line + "\n");
            ADD_FAILURE() << "accepted: " << redacted(line);
        } catch (const std::exception& error) {
            EXPECT_FALSE(carriesKey(error.what())) << redacted(error.what());
        }
    }
}

} // namespace
} // namespace kavrel
