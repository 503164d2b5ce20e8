#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "Platform/SecretServiceStore.hpp"

#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace kavrel {
namespace {

// Set by the outer test for the copy of this binary that runs inside the private session bus.
constexpr const char* insideMarker = "KAVREL_INSIDE_PRIVATE_KEYRING";

bool onPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Another program's view of the same item: matched by the two attributes only.
const SecretSchema foreignSchema = {
    "org.example.Foreign",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Stores bytes the way another program would, bypassing our add-only-if-absent emulation.
void storeForeignItem(std::span<const uint8_t> bytes) {
    SecretValue* value = secret_value_new(reinterpret_cast<const gchar*>(bytes.data()),
                                          static_cast<gssize>(bytes.size()), "application/octet-stream");
    GError* error = nullptr;
    const gboolean stored = secret_password_store_binary_sync(
        &foreignSchema, SECRET_COLLECTION_DEFAULT, "foreign", value, nullptr, &error, "service",
        std::string(StorageKey::service).c_str(), "account", std::string(StorageKey::account).c_str(),
        nullptr);
    secret_value_unref(value);
    ASSERT_TRUE(stored) << (error ? error->message : "store failed");
}

void clearItem() {
    secret_password_clear_sync(&foreignSchema, nullptr, nullptr, "service",
                               std::string(StorageKey::service).c_str(), "account",
                               std::string(StorageKey::account).c_str(), nullptr);
}

TEST(SecretServiceStoreInside, KeepsTheKeyInARealSecretService) {
    if (std::getenv(insideMarker) == nullptr) {
        GTEST_SKIP() << "runs only inside the private keyring session that "
                        "SecretServiceStore.AgainstGnomeKeyringInAPrivateSession starts";
    }
    SecretServiceStore store;
    EXPECT_EQ(store.read(StorageKey::service, StorageKey::account).status, SecretStore::itemNotFound);

    int32_t status = 0;
    try {
        StorageKey::loadOrCreate(store, false);
        ADD_FAILURE() << "an empty store with connector state must not create a key";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), StorageError::Code::missingKey);
    }
    EXPECT_EQ(store.read(StorageKey::service, StorageKey::account).status, SecretStore::itemNotFound);

    const std::string created = StorageKey::loadOrCreate(store, true);
    EXPECT_EQ(created.size(), 64U);
    const SecretStore::Lookup raw = store.read(StorageKey::service, StorageKey::account);
    ASSERT_EQ(raw.status, SecretStore::success);
    EXPECT_EQ(raw.data->size(), 32U) << "raw bytes, not the text form";
    EXPECT_TRUE(StorageKey::loadOrCreate(store, false) == created);

    // add only if absent: an existing item is reported as a duplicate and left alone.
    const std::array<uint8_t, 32> other{};
    EXPECT_EQ(store.add(StorageKey::service, StorageKey::account, other), SecretStore::duplicateItem);
    EXPECT_TRUE(StorageKey::loadOrCreate(store, false) == created);

    // A foreign item of the wrong length is refused with status 0 and kept.
    clearItem();
    const std::array<uint8_t, 16> shortItem{1, 2, 3};
    storeForeignItem(shortItem);
    try {
        StorageKey::loadOrCreate(store, true);
        ADD_FAILURE() << "a 16-byte item must be refused";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), StorageError::Code::keychain);
        status = error.status();
    }
    EXPECT_EQ(status, 0);
    const SecretStore::Lookup kept = store.read(StorageKey::service, StorageKey::account);
    ASSERT_EQ(kept.status, SecretStore::success);
    EXPECT_EQ(kept.data->size(), 16U);
}

TEST(SecretServiceStore, AgainstGnomeKeyringInAPrivateSession) {
    if (std::getenv(insideMarker) != nullptr) {
        GTEST_SKIP() << "already inside";
    }
    if (!onPath("dbus-run-session") || !onPath("gnome-keyring-daemon")) {
        GTEST_SKIP() << "dbus-run-session or gnome-keyring-daemon is not installed "
                        "(packages dbus, gnome-keyring); the real Secret Service test cannot run";
    }
    char pattern[] = "/tmp/kavrel-keyring-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path home = pattern;

    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // gnome-keyring keeps its files under $HOME; the bus and the daemon end with dbus-run-session.
        ::setenv("HOME", home.c_str(), 1);
        ::setenv(insideMarker, "1", 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        const char* script = "eval \"$(printf pw | gnome-keyring-daemon --unlock --components=secrets)\" "
                             ">/dev/null && exec \"$0\" \"$@\"";
        ::execl("/usr/bin/dbus-run-session", "dbus-run-session", "--", "/bin/sh", "-c", script, self.c_str(),
                "--gtest_filter=SecretServiceStoreInside.*", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    // The keyring daemon may still be removing its control socket as its session ends.
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    ASSERT_TRUE(WIFEXITED(status)) << "the inner test run died";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the test inside the private keyring session failed (output above)";
}

} // namespace
} // namespace kavrel
