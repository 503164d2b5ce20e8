#include "CompanionCore/storage/SecretBytes.hpp"

#include <cstring>

namespace kavrel {

void wipeMemory(void* data, std::size_t size) noexcept {
    if (size != 0) {
        explicit_bzero(data, size);
    }
}

SecretBytes& SecretBytes::operator=(const SecretBytes& other) {
    if (this != &other) {
        wipe();
        bytes = other.bytes;
    }
    return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        wipe();
        bytes = std::move(other.bytes);
    }
    return *this;
}

void SecretBytes::wipe() noexcept {
    wipeMemory(bytes.data(), bytes.size());
}

} // namespace kavrel
