#include "Platform/SecretServiceStore.hpp"

#include <libsecret/secret.h>

#include <string>

namespace kavrel {

namespace {

const SecretSchema* storageSchema() {
    // DONT_MATCH_NAME: an item is found by its two attributes, whichever program wrote it.
    static const SecretSchema schema = {
        "com.quartzfield.kavrel.companion.Secret",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

constexpr const char* contentType = "application/octet-stream";
constexpr const char* itemLabel = "Kavrel Companion storage key";

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error != nullptr) {
            g_error_free(error);
        }
    }
};

} // namespace

SecretStore::Lookup SecretServiceStore::read(std::string_view service, std::string_view account) {
    const std::string serviceText(service);
    const std::string accountText(account);
    ErrorHolder failure;
    SecretValue* value =
        secret_password_lookup_binary_sync(storageSchema(), nullptr, &failure.error, "service",
                                           serviceText.c_str(), "account", accountText.c_str(), nullptr);
    if (failure.error != nullptr) {
        return {serviceUnavailable, std::nullopt};
    }
    if (value == nullptr) {
        return {itemNotFound, std::nullopt};
    }
    // libsecret keeps secret values in non-pageable memory and wipes it on release; our copy wipes itself.
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    SecretBytes copy(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes), length));
    secret_value_unref(value);
    return {success, std::move(copy)};
}

int32_t SecretServiceStore::add(std::string_view service, std::string_view account,
                                std::span<const uint8_t> data) {
    const Lookup existing = read(service, account);
    if (existing.status == success) {
        return duplicateItem;
    }
    if (existing.status != itemNotFound) {
        return existing.status;
    }

    const std::string serviceText(service);
    const std::string accountText(account);
    SecretValue* value = secret_value_new(reinterpret_cast<const gchar*>(data.data()),
                                          static_cast<gssize>(data.size()), contentType);
    ErrorHolder failure;
    const gboolean stored = secret_password_store_binary_sync(
        storageSchema(), SECRET_COLLECTION_DEFAULT, itemLabel, value, nullptr, &failure.error, "service",
        serviceText.c_str(), "account", accountText.c_str(), nullptr);
    secret_value_unref(value);
    if (!stored || failure.error != nullptr) {
        return serviceUnavailable;
    }

    // Between our look-up and our store another writer may have stored its key; what the store holds now
    // is the one key every writer must end up with.
    const Lookup written = read(service, account);
    if (written.status != success) {
        return written.status == itemNotFound ? serviceUnavailable : written.status;
    }
    const SecretBytes ours(data);
    return written.data && *written.data == ours ? success : duplicateItem;
}

} // namespace kavrel
