#include "Platform/SecretServiceStore.hpp"

#include <gio/gio.h>
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

// Runs one asynchronous libsecret call on a main context of this thread's own until it answers or
// `cancellable` is cancelled, and returns its result (null when abandoned). libsecret 0.20 never answers a
// call whose unlock prompt was ended by cancelling it (it fails an assertion instead), which its blocking
// calls would wait on for ever; an abandoned call stays unanswered on the private context.
template <typename Start> GAsyncResult* awaitCall(GCancellable* cancellable, Start start) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GAsyncResult* result = nullptr;
    start(
        +[](GObject*, GAsyncResult* answer, gpointer slot) {
            *static_cast<GAsyncResult**>(slot) = G_ASYNC_RESULT(g_object_ref(answer));
        },
        &result);
    const gulong wakeup =
        g_cancellable_connect(cancellable, G_CALLBACK(+[](GCancellable*, gpointer waiting) {
                                  g_main_context_wakeup(static_cast<GMainContext*>(waiting));
                              }),
                              context, nullptr);
    while (result == nullptr && !g_cancellable_is_cancelled(cancellable)) {
        g_main_context_iteration(context, TRUE);
    }
    g_cancellable_disconnect(cancellable, wakeup);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return result;
}

} // namespace

SecretServiceStore::SecretServiceStore() : cancellable(g_cancellable_new()) {}

SecretServiceStore::~SecretServiceStore() {
    g_object_unref(cancellable);
}

void SecretServiceStore::cancel() {
    g_cancellable_cancel(cancellable);
}

SecretStore::Lookup SecretServiceStore::read(std::string_view service, std::string_view account) {
    const std::string serviceText(service);
    const std::string accountText(account);
    ErrorHolder failure;
    GAsyncResult* answer = awaitCall(cancellable, [&](GAsyncReadyCallback done, gpointer slot) {
        secret_password_lookup(storageSchema(), cancellable, done, slot, "service", serviceText.c_str(),
                               "account", accountText.c_str(), nullptr);
    });
    if (answer == nullptr) {
        return {serviceUnavailable, std::nullopt};
    }
    SecretValue* value = secret_password_lookup_binary_finish(answer, &failure.error);
    g_object_unref(answer);
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
    GAsyncResult* answer = awaitCall(cancellable, [&](GAsyncReadyCallback done, gpointer slot) {
        secret_password_store_binary(storageSchema(), SECRET_COLLECTION_DEFAULT, itemLabel, value,
                                     cancellable, done, slot, "service", serviceText.c_str(), "account",
                                     accountText.c_str(), nullptr);
    });
    secret_value_unref(value);
    if (answer == nullptr) {
        return serviceUnavailable;
    }
    ErrorHolder failure;
    const gboolean stored = secret_password_store_finish(answer, &failure.error);
    g_object_unref(answer);
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
