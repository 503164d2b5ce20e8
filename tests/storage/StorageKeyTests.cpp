#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "Platform/SecretServiceStore.hpp"
#include "platform/PrivateSessionBus.hpp"
#include "support/InMemorySecretStore.hpp"

#include <gtest/gtest.h>

#include <array>

namespace kavrel {
namespace {

// Where every secret store keeps the key.
constexpr const char* service = "com.quartzfield.kavrel.companion";
constexpr const char* account = "storage-key";

// Keys are compared with EXPECT_TRUE, never EXPECT_EQ, so no failure message can print one.
bool isKeyText(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

struct Refusal {
    StorageError::Code code;
    int32_t status;
    bool operator==(const Refusal&) const = default;
};

std::optional<Refusal> refusal(SecretStore& store, bool allowCreation,
                               const StorageKey::RandomSource& random = StorageKey::systemRandom) {
    try {
        StorageKey::loadOrCreate(store, allowCreation, random);
    } catch (const StorageError& error) {
        return Refusal{error.code(), error.code() == StorageError::Code::keychain ? error.status() : 0};
    }
    return std::nullopt;
}

TEST(StorageKey, CreatesThirtyTwoRawBytesOnceAndOtherwiseReadsTheStoredOnes) {
    InMemorySecretStore store;
    const std::string first = StorageKey::loadOrCreate(store, true);
    EXPECT_TRUE(isKeyText(first));
    EXPECT_EQ(store.item(service, account)->size(), 32U) << "the raw bytes are stored, not the text";
    EXPECT_TRUE(StorageKey::loadOrCreate(store, false) == first);
    EXPECT_EQ(store.adds, 1);

    // Another writer stores its key between our read and our add: the add answers duplicate, and the
    // key read next is theirs.
    InMemorySecretStore raced;
    const std::array<uint8_t, 32> theirs{0x00, 0x0f, 0xa0, 0xff};
    raced.beforeAdd = [&](InMemorySecretStore& s) {
        s.put(service, account, SecretBytes(std::span(theirs)));
    };
    EXPECT_TRUE(StorageKey::loadOrCreate(raced, true) == "000fa0ff" + std::string(56, '0'));
    EXPECT_EQ(raced.reads, 2);
}

TEST(StorageKey, RefusesWithoutChangingTheStore) {
    const struct {
        const char* name;
        std::optional<std::size_t> item;
        bool allowCreation;
        std::optional<int32_t> readFailure, addFailure;
        Refusal expected;
        int reads = 1;
        bool randomFails = false;
    } cases[] = {
        {"no key but connector state", {}, false, {}, {}, {StorageError::Code::missingKey, 0}},
        {"an item of 16 bytes", 16, true, {}, {}, {StorageError::Code::keychain, 0}},
        {"an item of 33 bytes", 33, true, {}, {}, {StorageError::Code::keychain, 0}},
        {"an empty item", 0, true, {}, {}, {StorageError::Code::keychain, 0}},
        {"the read fails", {}, true, -25291, {}, {StorageError::Code::keychain, -25291}},
        {"the add fails", {}, true, {}, -61, {StorageError::Code::keychain, -61}},
        // Never found yet always a duplicate: given up on after three rounds.
        {"every add is a duplicate", {}, true, {}, -25299, {StorageError::Code::keychain, -25299}, 3},
        {"the random source fails", {}, true, {}, {}, {StorageError::Code::randomFailure, 0}, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InMemorySecretStore store;
        if (c.item) {
            store.put(service, account, SecretBytes(*c.item));
        }
        store.readFailure = c.readFailure;
        store.addFailure = c.addFailure;
        EXPECT_EQ(refusal(store, c.allowCreation, [&](std::span<uint8_t>) { return !c.randomFails; }),
                  c.expected);
        EXPECT_EQ(store.reads, c.reads);
        const SecretBytes* after = store.item(service, account);
        EXPECT_EQ(after ? std::optional(after->size()) : std::nullopt, c.item);
    }
    std::array<uint8_t, 64> buffer{};
    ASSERT_TRUE(StorageKey::systemRandom(buffer));
    EXPECT_NE(buffer.back(), 0) << "the system source fills the whole buffer (fails by chance once in 256)";
}

TEST(StorageKeyInPrivateKeyring, KeepsTheKeyInARealSecretService) {
    if (!PrivateSessionBus::inside()) {
        GTEST_SKIP() << "runs inside the private session of StorageKey.AgainstGnomeKeyring";
    }
    SecretServiceStore store;
    EXPECT_EQ(refusal(store, false), (Refusal{StorageError::Code::missingKey, 0}));
    EXPECT_EQ(store.read(service, account).status, -25300) << "nothing was created";
    const std::string created = StorageKey::loadOrCreate(store, true);
    ASSERT_EQ(store.read(service, account).status, 0);
    EXPECT_EQ(store.read(service, account).data->size(), 32U) << "raw bytes, not the text form";
    EXPECT_TRUE(isKeyText(created) && StorageKey::loadOrCreate(store, false) == created);
    EXPECT_EQ(store.add(service, account, std::array<uint8_t, 32>{}), -25299) << "added only when absent";
    EXPECT_TRUE(StorageKey::loadOrCreate(store, false) == created);

    // Another program's item of 16 bytes under the same two attributes: refused with status 0, kept.
    ASSERT_EQ(std::system("secret-tool clear service com.quartzfield.kavrel.companion account storage-key && "
                          "printf 0123456789abcdef | secret-tool store --label=other "
                          "service com.quartzfield.kavrel.companion account storage-key"),
              0);
    EXPECT_EQ(refusal(store, true), (Refusal{StorageError::Code::keychain, 0}));
    EXPECT_EQ(store.read(service, account).data->size(), 16U);
}

TEST(StorageKey, AgainstGnomeKeyring) {
    if (PrivateSessionBus::inside() || !PrivateSessionBus::available() ||
        ::access("/usr/bin/gnome-keyring-daemon", X_OK) != 0) {
        GTEST_SKIP() << "needs dbus-run-session and gnome-keyring-daemon (packages dbus, gnome-keyring)";
    }
    EXPECT_EQ(PrivateSessionBus::runTests(
                  "StorageKeyInPrivateKeyring.*",
                  "eval \"$(printf pw | gnome-keyring-daemon --unlock --components=secrets)\" >/dev/null"),
              0)
        << "the test inside the private keyring session failed (output above)";
}

} // namespace
} // namespace kavrel
