#pragma once

#include "CompanionCore/storage/SecretStore.hpp"

// GLib's own declaration, so that its headers stay out of the Qt code that includes this one.
typedef struct _GCancellable GCancellable;

namespace kavrel {

// The secret store on the desktop's Secret Service (gnome-keyring, KWallet's provider, ...), through
// libsecret. Items carry the attributes "service" and "account" and hold raw bytes.
class SecretServiceStore final : public SecretStore {
public:
    // Any failure reported by libsecret or the bus: no usable Secret Service (not running, locked and
    // not unlockable, refused).
    static constexpr int32_t serviceUnavailable = -25291;

    SecretServiceStore();
    ~SecretServiceStore() override;
    SecretServiceStore(const SecretServiceStore&) = delete;
    SecretServiceStore& operator=(const SecretServiceStore&) = delete;

    // Ends a call that waits on the Secret Service, such as a keyring's unlock prompt left open, and
    // every later one: each answers serviceUnavailable. From any thread; for quitting, which would
    // otherwise wait for the user to answer a prompt of a program that is gone.
    void cancel();

    Lookup read(std::string_view service, std::string_view account) override;
    // The Secret Service replaces an existing item on store, so "add only if absent" is emulated: an
    // item that exists answers duplicate; otherwise we store and read back, and when another writer's
    // bytes are what the store now holds, answer duplicate so the caller adopts them.
    int32_t add(std::string_view service, std::string_view account, std::span<const uint8_t> data) override;

private:
    GCancellable* cancellable;
};

} // namespace kavrel
