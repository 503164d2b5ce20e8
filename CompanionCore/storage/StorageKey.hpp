#pragma once

#include "CompanionCore/storage/SecretStore.hpp"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kavrel {

// The companion's one secret: 32 random bytes in the secret store, handed out as 64 lower-case
// hexadecimal characters. Never logged or displayed.
namespace StorageKey {

inline constexpr std::string_view service = "com.quartzfield.kavrel.companion";
inline constexpr std::string_view account = "storage-key";
inline constexpr std::size_t keyBytes = 32;
// Rounds of read-then-add before a store that keeps answering "not found" and then "duplicate" is
// given up on.
inline constexpr int maxCreationRounds = 3;

// Fills the buffer with random bytes; false on failure.
using RandomSource = std::function<bool(std::span<uint8_t>)>;

// getrandom(2), retried on interruption and short reads.
bool systemRandom(std::span<uint8_t> buffer);

// Reads the key, or creates and stores it when allowed. Throws StorageError: missingKey, randomFailure,
// or keychain(status) for every other failure of the store (status 0 for an item that is not 32 bytes,
// which is left untouched).
std::string loadOrCreate(SecretStore& store, bool allowCreation, const RandomSource& random = systemRandom);

} // namespace StorageKey
} // namespace kavrel
