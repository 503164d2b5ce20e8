#pragma once

#include "CompanionCore/storage/SecretStore.hpp"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace kavrel {

// A secret store in memory with scriptable answers.
class InMemorySecretStore final : public SecretStore {
public:
    Lookup read(std::string_view service, std::string_view account) override {
        ++reads;
        const SecretBytes* found = item(service, account);
        if (readFailure || !found) {
            return {readFailure.value_or(itemNotFound), std::nullopt};
        }
        return {success, *found};
    }
    int32_t add(std::string_view service, std::string_view account, std::span<const uint8_t> data) override {
        ++adds;
        if (beforeAdd) {
            beforeAdd(*this);
        }
        if (addFailure || item(service, account)) {
            return addFailure.value_or(duplicateItem);
        }
        put(service, account, SecretBytes(data));
        return success;
    }

    void put(std::string_view service, std::string_view account, SecretBytes data) {
        items[{std::string(service), std::string(account)}] = std::move(data);
    }
    const SecretBytes* item(std::string_view service, std::string_view account) const {
        const auto found = items.find({std::string(service), std::string(account)});
        return found == items.end() ? nullptr : &found->second;
    }

    // Every read answers this status (and no data) while set.
    std::optional<int32_t> readFailure;
    // Every add answers this status without storing while set.
    std::optional<int32_t> addFailure;
    // Runs inside add before the store looks for an existing item: another writer acting in the gap.
    std::function<void(InMemorySecretStore&)> beforeAdd;

    int reads = 0;
    int adds = 0;

private:
    std::map<std::pair<std::string, std::string>, SecretBytes> items;
};

} // namespace kavrel
