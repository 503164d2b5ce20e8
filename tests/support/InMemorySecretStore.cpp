#include "support/InMemorySecretStore.hpp"

namespace kavrel {

SecretStore::Lookup InMemorySecretStore::read(std::string_view service, std::string_view account) {
    ++reads;
    if (readFailure) {
        return {*readFailure, std::nullopt};
    }
    if (const SecretBytes* found = item(service, account)) {
        return {success, *found};
    }
    return {itemNotFound, std::nullopt};
}

int32_t InMemorySecretStore::add(std::string_view service, std::string_view account,
                                 std::span<const uint8_t> data) {
    ++adds;
    if (beforeAdd) {
        beforeAdd(*this);
    }
    if (addFailure) {
        return *addFailure;
    }
    if (item(service, account) != nullptr) {
        return duplicateItem;
    }
    put(service, account, SecretBytes(data));
    return success;
}

void InMemorySecretStore::put(std::string_view service, std::string_view account, SecretBytes data) {
    items[{std::string(service), std::string(account)}] = std::move(data);
}

const SecretBytes* InMemorySecretStore::item(std::string_view service, std::string_view account) const {
    const auto found = items.find({std::string(service), std::string(account)});
    return found == items.end() ? nullptr : &found->second;
}

} // namespace kavrel
