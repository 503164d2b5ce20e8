#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "support/InMemorySecretStore.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace kavrel {
namespace {

// Keys are compared with EXPECT_TRUE, never EXPECT_EQ, so no failure message can print one.
bool isKeyText(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

StorageError::Code codeOf(const std::function<void()>& action, int32_t* status = nullptr) {
    try {
        action();
    } catch (const StorageError& error) {
        if (status != nullptr) {
            *status = error.status();
        }
        return error.code();
    }
    ADD_FAILURE() << "no StorageError was thrown";
    return StorageError::Code::keychain;
}

TEST(StorageKey, CreatesAKeyOnceAndReturnsTheSameTextAfterwards) {
    InMemorySecretStore store;
    const std::string first = StorageKey::loadOrCreate(store, true);
    EXPECT_TRUE(isKeyText(first));
    const SecretBytes* stored = store.item(StorageKey::service, StorageKey::account);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->size(), 32U) << "the raw bytes are stored, not the text";

    const std::string again = StorageKey::loadOrCreate(store, false);
    EXPECT_TRUE(first == again);
    EXPECT_EQ(store.adds, 1);
}

TEST(StorageKey, TextFormIsLowerCaseHexOfEachByteInOrder) {
    InMemorySecretStore store;
    std::array<uint8_t, 32> raw{};
    raw[0] = 0x00;
    raw[1] = 0x0f;
    raw[2] = 0xa0;
    raw[3] = 0xff;
    store.put(StorageKey::service, StorageKey::account, SecretBytes(std::span<const uint8_t>(raw)));
    const std::string text = StorageKey::loadOrCreate(store, false);
    EXPECT_TRUE(text.substr(0, 8) == "000fa0ff");
    EXPECT_TRUE(text.substr(8) == std::string(56, '0'));
}

TEST(StorageKey, RefusesWithoutChangingTheStore) {
    struct Case {
        const char* name;
        std::function<void(InMemorySecretStore&)> prepare;
        bool allowCreation;
        StorageError::Code code;
        int32_t status;
    };
    const std::vector<Case> cases{
        {"absent key with connector state", [](InMemorySecretStore&) {}, false,
         StorageError::Code::missingKey, 0},
        {"item of 16 bytes",
         [](InMemorySecretStore& s) { s.put(StorageKey::service, StorageKey::account, SecretBytes(16)); },
         true, StorageError::Code::keychain, 0},
        {"empty item",
         [](InMemorySecretStore& s) { s.put(StorageKey::service, StorageKey::account, SecretBytes()); }, true,
         StorageError::Code::keychain, 0},
        {"item of 33 bytes",
         [](InMemorySecretStore& s) { s.put(StorageKey::service, StorageKey::account, SecretBytes(33)); },
         true, StorageError::Code::keychain, 0},
        {"read fails", [](InMemorySecretStore& s) { s.readFailure = -25291; }, true,
         StorageError::Code::keychain, -25291},
        {"add fails", [](InMemorySecretStore& s) { s.addFailure = -61; }, true, StorageError::Code::keychain,
         -61},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InMemorySecretStore store;
        c.prepare(store);
        const SecretBytes* before = store.item(StorageKey::service, StorageKey::account);
        const std::optional<SecretBytes> kept = before ? std::optional<SecretBytes>(*before) : std::nullopt;
        int32_t status = 12345;
        EXPECT_EQ(codeOf([&] { StorageKey::loadOrCreate(store, c.allowCreation); }, &status), c.code);
        if (c.code == StorageError::Code::keychain) {
            EXPECT_EQ(status, c.status);
        }
        const SecretBytes* after = store.item(StorageKey::service, StorageKey::account);
        EXPECT_EQ(after != nullptr, kept.has_value());
        if (after != nullptr && kept) {
            EXPECT_TRUE(*after == *kept);
        }
    }
}

TEST(StorageKey, RandomFailureAddsNothing) {
    InMemorySecretStore store;
    EXPECT_EQ(
        codeOf([&] { StorageKey::loadOrCreate(store, true, [](std::span<uint8_t>) { return false; }); }),
        StorageError::Code::randomFailure);
    EXPECT_EQ(store.adds, 0);
}

TEST(StorageKey, DuplicateAnswerAdoptsTheOtherWritersKey) {
    InMemorySecretStore store;
    std::array<uint8_t, 32> theirs{};
    theirs.fill(0xab);
    store.beforeAdd = [&](InMemorySecretStore& s) {
        if (s.item(StorageKey::service, StorageKey::account) == nullptr) {
            s.put(StorageKey::service, StorageKey::account, SecretBytes(std::span<const uint8_t>(theirs)));
        }
    };
    const std::string key = StorageKey::loadOrCreate(store, true);
    std::string expected;
    for (int i = 0; i < 32; ++i) {
        expected += "ab";
    }
    EXPECT_TRUE(key == expected);
    EXPECT_EQ(store.reads, 2);
}

TEST(StorageKey, ContradictoryStoreIsGivenUpOnAfterBoundedRounds) {
    // A store that never finds the item yet always reports a duplicate would loop forever unbounded.
    InMemorySecretStore store;
    store.addFailure = SecretStore::duplicateItem;
    int32_t status = 0;
    EXPECT_EQ(codeOf([&] { StorageKey::loadOrCreate(store, true); }, &status), StorageError::Code::keychain);
    EXPECT_EQ(status, SecretStore::duplicateItem);
    EXPECT_EQ(store.adds, StorageKey::maxCreationRounds);
}

TEST(StorageKey, ErrorTextsNeverCarryKeyMaterial) {
    EXPECT_STREQ(StorageError::keychain(-25300).what(), "keychain(-25300)");
    EXPECT_STREQ(StorageError::missingKey().what(), "missingKey");
    EXPECT_STREQ(StorageError::unsafeDirectory("/d", "mode 0755, not 0700").what(), "unsafeDirectory");
}

TEST(StorageKey, SystemRandomFillsTheWholeBuffer) {
    std::array<uint8_t, 4096> buffer{};
    ASSERT_TRUE(StorageKey::systemRandom(buffer));
    // 4096 zero bytes from a working source has probability 2^-32768.
    EXPECT_TRUE(std::any_of(buffer.begin() + 4000, buffer.end(), [](uint8_t b) { return b != 0; }));
}

} // namespace
} // namespace kavrel
