#include "CompanionCore/storage/StorageError.hpp"
#include "supervisor/SupervisorHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <malloc.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string_view>

// Under a sanitizer the allocator is the sanitizer's own and is not replaced here.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KAVREL_SANITIZED_HEAP
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KAVREL_SANITIZED_HEAP
#endif

namespace {
// While set, every heap block given back is searched for this text; finds are counted.
std::atomic<const char*> soughtInFreedMemory{nullptr};
std::atomic<int> freedCopies{0};
} // namespace

#ifndef KAVREL_SANITIZED_HEAP
void operator delete(void* block) noexcept {
    const char* sought = soughtInFreedMemory.load();
    if (sought != nullptr && block != nullptr &&
        std::string_view(static_cast<const char*>(block), ::malloc_usable_size(block))
                .find(std::string_view(sought, 16)) != std::string_view::npos) {
        ++freedCopies;
    }
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    ::operator delete(block);
}
#endif

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// Every buffer that held the key is wiped before it is freed, whether the key started the connector or
// came too late, after shutdown, when it starts nothing.
TEST_F(SupervisorTest, LaunchStartsTheConnectorByItsContractBecomesReadyAndPollsStatusAndWipesTheKey) {
    static constexpr std::string_view key =
        "3b9f0c2e7d415a86c1e0f9d72a6b4853e7c2a19d0f68b5e4a3c7d2e1f0b9a864";
    makeSupervisor("/bin/true", [] { return std::string(key); });
    soughtInFreedMemory = key.data();
    supervisor->launch();
    supervisor->launch();
    supervisor->reconnect();
    loop.runUntilIdle();             // the key is looked up on the keyring queue: nothing starts meanwhile
    EXPECT_EQ(keyring->drain(), 1u); // one lookup for the three requests
    EXPECT_EQ(launcher.childCount(), 0u); // its answer goes on on the main loop
    flush();
    supervisor->launch();        // a child runs: nothing more
    supervisor->refreshStatus(); // not ready: no poll, asked for or on the tick
    advance(10s);
    soughtInFreedMemory = nullptr; // the test's own copies follow

    ASSERT_EQ(launcher.spawns.size(), 1u);
    EXPECT_EQ(launcher.spawns[0].executable, "/bin/true");
    EXPECT_EQ(launcher.spawns[0].arguments,
              (std::vector<std::string>{"-config-dir", directory.string(), "desktop"}));
    EXPECT_EQ(launcher.spawns[0].environment,
              (std::vector<std::string>{"HOME=" + std::string(std::getenv("HOME")), "PATH=/usr/bin:/bin",
                                        "LANG=en_US.UTF-8"}));
    EXPECT_FALSE(supervisor->ready().value());
    EXPECT_EQ(sent(), (std::vector<Envelope>{Envelope(lastSent("initialize").id, "initialize",
                                                      {{"storageKey", std::string(key)}})}));
    EXPECT_TRUE(std::regex_match( // a canonical version 4 UUID in capitals
        sent()[0].id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));

    // Ready first, then the first status poll, then onReady, once.
    std::vector<std::pair<bool, std::vector<std::string>>> whenReady; // ready, and what was sent by then
    supervisor->setOnReady([&] {
        writer->drain();
        whenReady.emplace_back(supervisor->ready().value(), sentTypes());
    });
    answer("initialize", JSONObject{{"ok", true}});
    EXPECT_EQ(whenReady, (decltype(whenReady){{true, {"initialize", "status"}}}));
    EXPECT_EQ(messages, (std::vector<std::string>{expected::helperConnecting, expected::helperReady}));
    answer("status", okPayload());
    advance(4s);
    EXPECT_EQ(sent().size(), 2u);
    advance(1s);
    EXPECT_EQ(sentTypes(), (std::vector<std::string>{"initialize", "status", "status"}));

    soughtInFreedMemory = key.data();
    supervisor->shutdown();
    makeSupervisor("/bin/true", [] { return std::string(key); });
    supervisor->launch();
    supervisor->shutdown();
    EXPECT_EQ(keyring->drain(), 1u);
    supervisor->reconnect();
    advance(1h);
    [[maybe_unused]] const int found = freedCopies.exchange(0);
    { const std::string unwiped(key); } // proves that the search sees a copy that is not wiped
    soughtInFreedMemory = nullptr;
#ifndef KAVREL_SANITIZED_HEAP
    EXPECT_EQ(std::pair(found, freedCopies.exchange(0)), std::pair(0, 1)); // none of ours, the proof's
#endif
    EXPECT_EQ(launcher.childCount(), 1u);
    EXPECT_EQ(supervisor->message().value(), expected::helperStarting);
}

// However the handshake fails, the line shows the refusal's text, the child is stopped, and only
// reconnect() starts another one.
TEST_F(SupervisorTest, AFailedHandshakeShowsItsTextAndSuppressesRestartsUntilReconnect) {
    const auto refuse = [this](JSONObject payload) {
        return [this, payload] {
            answer("initialize", payload);
        };
    };
    const auto code = [&](JSONValue code) {
        return refuse({{"ok", false}, {"code", std::move(code)}});
    };
    const std::vector<std::tuple<const char*, std::function<void()>, const char*>> rows{
        {"migration_required", code("migration_required"), expected::describeMigration},
        {"invalid_code", code("invalid_code"), expected::describeInvalidCode},
        {"pairing_expired", code("pairing_expired"), expected::describeInvalidCode},
        {"already_paired", code("already_paired"), expected::describeAlreadyPaired},
        {"replacement_required", code("replacement_required"), expected::describeAlreadyPaired},
        {"initialize_failed", code("initialize_failed"), expected::describeGeneric},
        {"code of another case", code("Invalid_code"), expected::describeGeneric},
        {"code with a space", code("invalid_code "), expected::describeGeneric},
        {"empty code", code(""), expected::describeGeneric},
        {"code is not text", code(7), expected::describeGeneric},
        {"ok is the number 1", refuse({{"ok", 1}}), expected::describeGeneric},
        {"ok is the text true", refuse({{"ok", "true"}}), expected::describeGeneric},
        {"empty payload", refuse({}), expected::describeGeneric},
        {"the child exits first", [this] { exitChild(); }, expected::describeGeneric},
        {"no answer in 21 s", [this] { advance(21s); }, expected::describeGeneric},
        {"reconnect() during it", [this] { supervisor->reconnect(); }, expected::describeGeneric},
    };
    for (const auto& [label, fail, text] : rows) {
        SCOPED_TRACE(label);
        makeSupervisor();
        const auto children = launcher.childCount();
        supervisor->launch();
        flush();
        fail();
        advance(10min);
        EXPECT_EQ(launcher.childCount(), children + 1);
        EXPECT_EQ(supervisor->message().value(), text);
        supervisor->reconnect();
        flush();
        EXPECT_EQ(launcher.childCount(), children + 2);
    }
}

TEST_F(SupervisorTest, LaunchFailuresSetTheirTextAndScheduleNothing) {
    const auto plainFile = directory / "not-executable";
    std::ofstream(plainFile) << "#!/bin/sh\n";
    ::chmod(plainFile.c_str(), 0644);
    using Row = std::tuple<const char*, std::filesystem::path, HelperSupervisor::KeyProvider, const char*>;
    const std::vector<Row> rows{
        {"missing executable", directory / "absent", {}, expected::helperBundle},
        {"relative path", "bin/true", {}, expected::helperBundle},
        {"not executable", plainFile, {}, expected::helperBundle},
        {"a directory", directory, {}, expected::helperBundle},
        {"spawn fails", "", {}, expected::helperBundle},
        {"storage error", "/bin/true", []() -> std::string { throw StorageError::missingKey(); },
         expected::helperKeychain},
        {"other key failure", "/bin/true", []() -> std::string { throw std::runtime_error("boom"); },
         expected::helperBundle},
    };
    for (const auto& [label, executable, keys, text] : rows) {
        SCOPED_TRACE(label);
        int lookups = 0;
        makeSupervisor(executable.empty() ? "/bin/true" : executable, [&lookups, keys = keys] {
            ++lookups;
            return keys ? keys() : std::string(64, 'c');
        });
        launcher.failNextSpawn = executable.empty();
        supervisor->launch();
        advance(10min);
        EXPECT_EQ(launcher.childCount(), 0u);
        EXPECT_EQ(messages, std::vector<std::string>{text});
        EXPECT_LE(lookups, 1); // no retry
    }
}

std::string statusLine(JSONObject payload) {
    return Envelope("S", "status", std::move(payload)).encodedLine();
}

// Only native results are replied; every write keeps its order on the writer. A result completes its
// own command, once; native commands go to their handler; status messages, and status replies whose
// data is an object, replace the status whole. Data that does not decode is a protocol error that stops
// the child once, and drops the chunk's good line before it too.
TEST_F(SupervisorTest, EachTypeGoesItsWayAndBadDataStopsTheChildOnce) {
    std::vector<Envelope> nativeCommands;
    supervisor->setOnNativeCommand([&](const Envelope& command) { nativeCommands.push_back(command); });
    launchReady();
    supervisor->send("pair", {{"code", "123456"}}, record());
    supervisor->reply(Envelope("A", "result", {{"ok", true}}));
    supervisor->reply(Envelope("B", "nativeSnapshot", {}));
    supervisor->reply(Envelope("C", "nativeResult", {{"ok", true}}));
    supervisor->send("start", {});
    loop.runUntilIdle();
    EXPECT_EQ(sent().size(), 2u);
    writer->drain();
    EXPECT_EQ(sentTypes(),
              (std::vector<std::string>{"initialize", "status", "pair", "nativeResult", "start"}));
    EXPECT_EQ(sent()[3], Envelope("C", "nativeResult", {{"ok", true}}));
    const auto pair = lastSent("pair");
    const Envelope first("N1", "nativeCommand", {{"action", "getFavorite"}});
    const Envelope second("N2", "nativeCommand", {{"action", "setFavorite"}, {"value", true}});
    child().writeOutput(first.encodedLine() + Envelope("NOT-PENDING", "result", okPayload()).encodedLine() +
                        second.encodedLine());
    child().answer(pair, okPayload({{"paired", true}}));
    child().answer(pair, okPayload({{"paired", false}}));
    answer("start", okPayload());
    EXPECT_EQ(replies, (std::vector<std::optional<Envelope>>{
                           Envelope(pair.id, "result", okPayload({{"paired", true}}))}));
    EXPECT_EQ(nativeCommands, (std::vector<Envelope>{first, second}));
    advance(24s); // a reply waits for nothing; the first unanswered poll expires at 25 s

    const auto split = statusLine({{"paired", true}});
    child().writeOutput(statusLine({{"cloud", "connected"}, {"running", true}}) + split.substr(0, 12));
    flush(); // the partial line waits for its end
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"cloud", "connected"}, {"running", true}}));
    child().writeOutput(split.substr(12) + statusLine({{"kept", true}}));
    flush();
    const JSONObject kept{{"kept", true}};
    for (const auto& [reply, status] : std::vector<std::pair<JSONObject, JSONObject>>{
             {{{"ok", true}}, kept},
             {{{"ok", true}, {"data", "text"}}, kept},
             {{{"ok", true}, {"data", JSONArray{}}}, kept},
             {okPayload({{"paired", false}}), {{"paired", false}}}}) {
        supervisor->refreshStatus();
        flush();
        answer("status", reply);
        EXPECT_EQ(supervisor->status().value(), status);
    }

    child().ignoresTerminate = true;
    child().writeOutput(statusLine({{"seen", true}}) + "{not json}\n");
    flush();
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"paired", false}})); // the good line went too
    child().writeOutput("more garbage\n");
    child().closeOutput();
    flush();
    EXPECT_EQ(child().signalsSent, std::vector<int>{SIGTERM});
    EXPECT_EQ(unavailableCalls, 1);
    EXPECT_EQ(supervisor->message().value(), expected::helperProtocolError);
}

} // namespace
} // namespace kavrel
