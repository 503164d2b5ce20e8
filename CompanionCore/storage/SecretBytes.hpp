#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kavrel {

// A byte buffer for secrets: wiped before its memory is released, never printed.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::size_t size) : bytes(size, 0) {}
    explicit SecretBytes(std::span<const uint8_t> data) : bytes(data.begin(), data.end()) {}
    SecretBytes(const SecretBytes&) = default;
    SecretBytes(SecretBytes&& other) noexcept : bytes(std::move(other.bytes)) {}
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes() { wipe(); }

    std::span<uint8_t> span() noexcept { return bytes; }
    std::span<const uint8_t> span() const noexcept { return bytes; }
    std::size_t size() const noexcept { return bytes.size(); }

    friend bool operator==(const SecretBytes& lhs, const SecretBytes& rhs) { return lhs.bytes == rhs.bytes; }

private:
    void wipe() noexcept;

    std::vector<uint8_t> bytes;
};

// Overwrites memory in a way the optimiser may not remove.
void wipeMemory(void* data, std::size_t size) noexcept;

} // namespace kavrel
