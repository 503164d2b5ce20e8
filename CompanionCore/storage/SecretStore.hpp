#pragma once

#include "CompanionCore/storage/SecretBytes.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kavrel {

// The secret store that keeps the storage key (the desktop's Secret Service in production). Items are
// addressed by service and account; statuses are 0 for success, the two answers below, or a store-specific
// negative failure.
class SecretStore {
public:
    static constexpr int32_t success = 0;
    static constexpr int32_t itemNotFound = -25300;
    static constexpr int32_t duplicateItem = -25299;

    struct Lookup {
        int32_t status = success;
        std::optional<SecretBytes> data; // present only with success
    };

    virtual ~SecretStore() = default;

    virtual Lookup read(std::string_view service, std::string_view account) = 0;
    // Adds an item only when none exists; answers duplicateItem when one does.
    virtual int32_t add(std::string_view service, std::string_view account,
                        std::span<const uint8_t> data) = 0;
};

} // namespace kavrel
