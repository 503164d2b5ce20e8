// The storage key is fetched on the keyring queue, off the main loop (the test drains that queue
// when the keyring "answers"), leaves no unwiped copy behind, and the connector can never hold Quit
// for long.

#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "support/ExpectedTexts.hpp"
#include "support/FakeProcessLauncher.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/ManualLoop.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
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
namespace {
void inspectFreed(void* block, std::size_t size) noexcept {
    const char* sought = soughtInFreedMemory.load();
    if (sought != nullptr && block != nullptr &&
        std::string_view(static_cast<const char*>(block), size).find(std::string_view(sought, 16)) !=
            std::string_view::npos) {
        ++freedCopies;
    }
}
} // namespace

void operator delete(void* block) noexcept {
    inspectFreed(block, block != nullptr ? ::malloc_usable_size(block) : 0);
    std::free(block);
}
void operator delete(void* block, std::size_t size) noexcept {
    inspectFreed(block, size);
    std::free(block);
}
#endif

namespace kavrel {
namespace {

using namespace std::chrono_literals;

const std::string startingText = "Starting companion…";

class KeyFetchTest : public ::testing::Test {
protected:
    KeyFetchTest() { build(); }

    void build() {
        auto writerQueue = std::make_unique<ManualQueue>("writer");
        auto keyQueue = std::make_unique<ManualQueue>("keyring");
        writer = writerQueue.get();
        keyring = keyQueue.get();
        supervisor = HelperSupervisor::create({.loop = loop,
                                               .launcher = *launcher,
                                               .secrets = secrets,
                                               .writer = std::move(writerQueue),
                                               .keyring = std::move(keyQueue)},
                                              "/bin/true", "/tmp/kavrel-key-fetch", [this] {
                                                  if (failure) {
                                                      std::rethrow_exception(failure);
                                                  }
                                                  return std::string(key);
                                              });
    }

    // Runs the main loop and the writer, but leaves the keyring unanswered.
    void run() {
        do {
            loop.runUntilIdle();
        } while (writer->drain() > 0);
    }

    ManualLoop loop;
    FakeProcessLauncher fakes{loop};
    ProcessLauncher* launcher = &fakes;
    InMemorySecretStore secrets;
    ManualQueue* writer = nullptr;
    ManualQueue* keyring = nullptr;
    std::shared_ptr<HelperSupervisor> supervisor;
    std::string_view key = "3b9f0c2e7d415a86c1e0f9d72a6b4853e7c2a19d0f68b5e4a3c7d2e1f0b9a864";
    std::exception_ptr failure;
};

TEST_F(KeyFetchTest, TheLaunchWaitsForTheKeyWithoutStartingAnythingElse) {
    supervisor->launch();
    run();
    supervisor->launch();
    supervisor->reconnect();
    run();
    EXPECT_EQ(fakes.childCount(), 0U);
    EXPECT_EQ(supervisor->message().value(), startingText);

    EXPECT_EQ(keyring->drain(), 1U);   // one lookup for the three requests
    EXPECT_EQ(fakes.childCount(), 0U); // the answer goes on on the loop, not on the keyring queue
    run();
    ASSERT_EQ(fakes.childCount(), 1U);
    const auto sent = fakes.last().input().envelopes();
    EXPECT_EQ(sent.at(0).type, "initialize");
    EXPECT_EQ(sent.at(0).payload, (JSONObject{{"storageKey", std::string(key)}}));
    EXPECT_EQ(supervisor->message().value(), "Connecting companion…");
}

TEST_F(KeyFetchTest, AFailedLookupEndsTheLaunchWithItsTextAndNoRetry) {
    const std::pair<std::exception_ptr, std::string> cases[] = {
        {std::make_exception_ptr(StorageError::missingKey()), expected::helperKeychain},
        {std::make_exception_ptr(std::runtime_error("bus gone")), expected::helperBundle},
    };
    for (const auto& [thrown, text] : cases) {
        SCOPED_TRACE(text);
        build();
        const auto children = fakes.childCount();
        failure = thrown;
        supervisor->launch();
        keyring->drain();
        run();
        EXPECT_EQ(supervisor->message().value(), text);
        loop.advance(10min);
        EXPECT_EQ(keyring->drain(), 0U);
        EXPECT_EQ(fakes.childCount(), children);
    }
}

TEST_F(KeyFetchTest, ShutdownAbandonsTheLookupAndItsLateAnswerStartsNothing) {
    supervisor->launch();
    supervisor->shutdown();
    EXPECT_EQ(keyring->drain(), 1U);
    run();
    EXPECT_EQ(fakes.childCount(), 0U);
    EXPECT_EQ(supervisor->message().value(), startingText);
    supervisor->reconnect();
    EXPECT_EQ(keyring->drain(), 0U);
}

// Children stuck in uninterruptible sleep: no signal ends them, and every wait for them lasts its
// whole timeout on the virtual clock.
class StuckLauncher final : public ProcessLauncher {
public:
    explicit StuckLauncher(ManualLoop& loop) : loop(loop), fakes(loop) {}

    std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        ExitHandler onExit) override {
        return std::make_unique<Child>(*this, fakes.spawn(executable, arguments, environment, onExit));
    }

    std::vector<int> signals;
    std::vector<std::optional<std::chrono::milliseconds>> waits;

private:
    class Child final : public ChildProcess {
    public:
        Child(StuckLauncher& owner, std::unique_ptr<ChildProcess> pipes)
            : owner(owner), pipes(std::move(pipes)) {}
        int processIdentifier() const override { return pipes->processIdentifier(); }
        bool isRunning() const override { return true; }
        void signal(int signalNumber) override { owner.signals.push_back(signalNumber); }
        int outputDescriptor() const override { return pipes->outputDescriptor(); }
        int diagnosticsDescriptor() const override { return pipes->diagnosticsDescriptor(); }
        std::shared_ptr<ChildInput> input() const override { return pipes->input(); }
        bool waitForExit(std::optional<std::chrono::milliseconds> timeout) override {
            owner.waits.push_back(timeout);
            if (!timeout) {
                throw std::logic_error("an unbounded wait for a child that never exits");
            }
            owner.loop.passTime(*timeout);
            return false;
        }

    private:
        StuckLauncher& owner;
        std::unique_ptr<ChildProcess> pipes;
    };

    ManualLoop& loop;
    FakeProcessLauncher fakes;
};

TEST_F(KeyFetchTest, AChildThatOutlastsSigkillHoldsShutdownForABoundedTime) {
    StuckLauncher stuck(loop);
    launcher = &stuck;
    build();
    supervisor->launch();
    keyring->drain();
    run();
    ASSERT_TRUE(stuck.waits.empty());

    const auto start = loop.now();
    supervisor->shutdown();
    EXPECT_EQ(stuck.signals, (std::vector<int>{SIGTERM, SIGKILL}));
    EXPECT_EQ(stuck.waits, (decltype(stuck.waits){2000ms, 3000ms}));
    EXPECT_EQ(loop.now() - start, 5s);
    supervisor.reset();
}

TEST_F(KeyFetchTest, EveryBufferThatHeldTheKeyIsWipedBeforeItIsFreed) {
#ifdef KAVREL_SANITIZED_HEAP
    GTEST_SKIP() << "the sanitizer owns the allocator";
#endif
    soughtInFreedMemory = key.data();
    supervisor->launch();
    keyring->drain();
    run(); // the provider's string, the payload and the written line are all released by now
    const int found = freedCopies.exchange(0);
    { const std::string unwiped(key); } // proves that the search sees a copy that is not wiped
    soughtInFreedMemory = nullptr;
    EXPECT_EQ(found, 0);
    EXPECT_EQ(freedCopies.exchange(0), 1);
    EXPECT_EQ(fakes.last().input().envelopes().at(0).payload.at("storageKey"), JSONValue(std::string(key)));
}

} // namespace
} // namespace kavrel
