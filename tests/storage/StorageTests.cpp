// The private directory, the instance lock in it, and the storage key in a secret store.

#include "CompanionCore/storage/InstanceLock.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "Platform/SecretServiceStore.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/PrivateSessionBus.hpp"
#include "platform/ScratchDirectory.hpp"
#include "support/InMemorySecretStore.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <array>
#include <functional>
#include <future>
#include <variant>

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using Code = StorageError::Code;

// What a storage call was refused with; the status only of a keyring failure.
struct Refusal {
    Code code;
    int32_t status = 0;
    bool operator==(const Refusal&) const = default;
};

std::optional<Refusal> refusal(const std::function<void()>& action) {
    try {
        action();
    } catch (const StorageError& error) {
        return Refusal{error.code(), error.code() == Code::keychain ? error.status() : 0};
    }
    return std::nullopt;
}

// The descriptor number the next open() gets: a descriptor leaked in between changes it.
int nextDescriptor() {
    const int probe = ::open("/dev/null", O_RDONLY);
    ::close(probe);
    return probe;
}

// Each test has its own data directory through XDG_DATA_HOME.
struct PrivateStorageTest : ::testing::Test {
    ScratchDirectory scratch;
    fs::path dataHome = scratch.path() / "data";
    EnvironmentOverride xdg{"XDG_DATA_HOME", dataHome.string()};
    fs::path privateDirectory = dataHome / "KavrelCompanion";
};

TEST_F(PrivateStorageTest, CreatesAPrivateDirectoryWhoseLockHasOneHolderAtATime) {
    EXPECT_EQ(PrivateStorage::directory(), privateDirectory);
    EXPECT_EQ(modeOf(dataHome), 0700U) << "a missing data directory is created private";
    const fs::path directory = PrivateStorage::directory(); // the one made before is private
    const int next = nextDescriptor();
    {
        const InstanceLock lock(directory);
        EXPECT_EQ(modeOf(privateDirectory / "app.lock"), 0600U);
        EXPECT_NE(::fcntl(lock.descriptor(), F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_EQ(refusal([&] { InstanceLock second(directory); }), Refusal{Code::alreadyRunning});
    }
    EXPECT_EQ(nextDescriptor(), next) << "the lock's descriptor outlived it";
    // The lock ends with its holder; the file left behind blocks nothing.
    EXPECT_EQ(refusal([&] { InstanceLock lock(directory); }), std::nullopt);
}

// What sits where the private directory or its lock file is expected; a link points at a sibling
// "real" of that shape.
struct Shape {
    const char* name;
    bool inPlaceOfLock;
    bool directory;
    mode_t mode;
    bool link = false;
    uid_t owner = ::geteuid();
};

TEST_F(PrivateStorageTest, RefusesAnUnsafeDirectoryOrLockFileWithoutRepairingItOrLeakingADescriptor) {
    const Shape shapes[] = {{"directory of mode 0750", false, true, 0750},
                            {"directory of mode 0705", false, true, 0705},
                            {"directory of mode 0500", false, true, 0500},
                            {"a regular file as directory", false, false, 0700},
                            {"a link to a good directory", false, true, 0700, true},
                            {"a directory of another owner", false, true, 0700, false, 65534},
                            {"lock file of mode 0640", true, false, 0640},
                            {"lock file of mode 0604", true, false, 0604},
                            {"lock file of mode 0700", true, false, 0700},
                            {"a link to a good lock file", true, false, 0600, true},
                            {"a directory as lock file", true, true, 0600},
                            {"a lock file of another owner", true, false, 0600, false, 65534}};
    fs::create_directories(dataHome);
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        if (shape.owner != ::geteuid() && ::geteuid() != 0) {
            continue; // another owner needs root
        }
        fs::remove_all(privateDirectory);
        const fs::path path =
            shape.inPlaceOfLock ? PrivateStorage::directory() / "app.lock" : privateDirectory;
        const fs::path real = shape.link ? path.parent_path() / "real" : path;
        shape.directory ? (void)fs::create_directory(real)
                        : (void)::close(::open(real.c_str(), O_CREAT | O_WRONLY, 0));
        ASSERT_EQ(::chmod(real.c_str(), shape.mode) | ::chown(real.c_str(), shape.owner, -1), 0);
        if (shape.link) {
            fs::create_symlink("real", path);
        }
        const mode_t before = modeOf(path);
        const int next = nextDescriptor();
        EXPECT_EQ(refusal([] { InstanceLock lock(PrivateStorage::directory()); }),
                  Refusal{Code::unsafeDirectory});
        EXPECT_EQ(modeOf(path), before);
        EXPECT_EQ(nextDescriptor(), next) << "a descriptor leaked";
    }
    fs::remove_all(privateDirectory);
    const mode_t mask = ::umask(0277);
    const auto masked = refusal([] { PrivateStorage::directory(); });
    ::umask(mask);
    EXPECT_EQ(masked, Refusal{Code::unsafeDirectory}) << "a fresh directory is checked too";

    fs::remove_all(dataHome);
    std::ofstream(dataHome.string());
    EXPECT_THROW(PrivateStorage::directory(), std::system_error) << "no data directory is the system's error";
}

// Where every secret store keeps the key.
constexpr const char* service = "com.quartzfield.kavrel.companion";
constexpr const char* account = "storage-key";

TEST(StorageKey, ReadsTheKeyMakesOneOnlyWhenAllowedAndAbsentAndOtherwiseRefusesWithoutChangingTheStore) {
    // The random source gives 000fa0ff and zeros; an item put in the store is all zeros.
    const std::string ours = "000fa0ff" + std::string(56, '0'), zeros(64, '0');
    const struct {
        const char* name;
        std::optional<std::size_t> item;
        bool allowCreation;
        std::optional<int32_t> readFailure, addFailure;
        std::variant<std::string, Refusal> expected;
        int reads = 1;
        bool randomFails = false;
        bool raced = false;
    } cases[] = {
        {"a stored key", 32, false, {}, {}, zeros},
        {"no key yet", {}, true, {}, {}, ours},
        // Another writer stores its key between our read and our add: the add answers duplicate, and the
        // key read next is theirs.
        {"another writer adds first", {}, true, {}, {}, zeros, 2, false, true},
        {"no key but connector state", {}, false, {}, {}, Refusal{Code::missingKey}},
        {"an item of 16 bytes", 16, true, {}, {}, Refusal{Code::keychain}},
        {"an item of 33 bytes", 33, true, {}, {}, Refusal{Code::keychain}},
        {"an empty item", 0, true, {}, {}, Refusal{Code::keychain}},
        {"the read fails", {}, true, -25291, {}, Refusal{Code::keychain, -25291}},
        {"the add fails", {}, true, {}, -61, Refusal{Code::keychain, -61}},
        // Never found yet always a duplicate: given up on after three rounds.
        {"every add is a duplicate", {}, true, {}, -25299, Refusal{Code::keychain, -25299}, 3},
        {"the random source fails", {}, true, {}, {}, Refusal{Code::randomFailure}, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InMemorySecretStore store;
        if (c.item) {
            store.put(service, account, SecretBytes(*c.item));
        }
        store.readFailure = c.readFailure;
        store.addFailure = c.addFailure;
        if (c.raced) {
            store.beforeAdd = [](InMemorySecretStore& s) {
                s.put(service, account, SecretBytes(32));
            };
        }
        const auto random = [&](std::span<uint8_t> bytes) {
            std::ranges::copy(std::array<uint8_t, 4>{0x00, 0x0f, 0xa0, 0xff}, bytes.begin());
            return !c.randomFails;
        };
        std::string key;
        const auto refused = refusal([&] { key = StorageKey::loadOrCreate(store, c.allowCreation, random); });
        EXPECT_EQ(refused ? decltype(c.expected)(*refused) : key, c.expected);
        EXPECT_EQ(store.reads, c.reads);
        // A key is kept as its 32 raw bytes; a refusal leaves the store as it was.
        const SecretBytes* after = store.item(service, account);
        EXPECT_EQ(after ? std::optional(after->size()) : std::nullopt, refused ? c.item : 32);
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
    EXPECT_EQ(refusal([&] { StorageKey::loadOrCreate(store, false); }), Refusal{Code::missingKey});
    const std::string created = StorageKey::loadOrCreate(store, true);
    EXPECT_EQ(store.read(service, account).data.value().size(), 32U) << "raw bytes, not the text form";
    EXPECT_EQ(store.add(service, account, std::array<uint8_t, 32>{}), -25299) << "added only when absent";
    // A real key is compared with EXPECT_TRUE, never EXPECT_EQ, so no failure message can print it.
    EXPECT_TRUE(created.size() == 64 && created.find_first_not_of("0123456789abcdef") == std::string::npos &&
                StorageKey::loadOrCreate(store, false) == created);

    // Another program's item of 16 bytes under the same two attributes: refused with status 0, kept.
    ASSERT_EQ(std::system("k='service com.quartzfield.kavrel.companion account storage-key'; secret-tool "
                          "clear $k && printf 0123456789abcdef | secret-tool store --label=other $k"),
              0);
    EXPECT_EQ(refusal([&] { StorageKey::loadOrCreate(store, true); }), Refusal{Code::keychain});
    EXPECT_EQ(store.read(service, account).data->size(), 16U);

    // Locked, the keyring asks for its password in a prompt. A companion quitting meanwhile cancels the
    // read, which must end (libsecret's own blocking call would not, even cancelled).
    ASSERT_EQ(std::system(
                  "dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
                  "org.freedesktop.Secret.Service.Lock "
                  "array:objpath:/org/freedesktop/secrets/collection/login >/dev/null"),
              0);
    auto lookup = std::async(std::launch::async, [&] { return store.read(service, account).status; });
    ASSERT_EQ(std::system("xdotool search --sync --onlyvisible --name '^Unlock Login Keyring$' >/dev/null"),
              0);
    store.cancel();
    EXPECT_EQ(lookup.get(), SecretServiceStore::serviceUnavailable);
    EXPECT_EQ(store.add(service, account, std::array<uint8_t, 32>{}), SecretServiceStore::serviceUnavailable)
        << "nothing is written once cancelled";
}

TEST(StorageKey, AgainstGnomeKeyring) {
    if (PrivateSessionBus::inside() || !PrivateSessionBus::available() ||
        ::access("/usr/bin/gnome-keyring-daemon", X_OK) != 0 || ::access("/usr/bin/Xvfb", X_OK) != 0) {
        GTEST_SKIP()
            << "needs dbus-run-session, gnome-keyring-daemon and Xvfb (packages dbus, gnome-keyring, xvfb)";
    }
    EXPECT_EQ(PrivateSessionBus::runTests(
                  "StorageKeyInPrivateKeyring.*",
                  "eval \"$(printf pw | gnome-keyring-daemon --unlock --components=secrets)\" >/dev/null",
                  true),
              0)
        << "the test inside the private keyring session failed (output above)";
}

} // namespace
} // namespace kavrel
