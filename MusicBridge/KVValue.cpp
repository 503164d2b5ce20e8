#include "MusicBridge/KVValue.hpp"

namespace kavrel {

void KVDictionary::set(std::string_view key, KVValue value) {
    if (KVValue* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    entries_.emplace_back(std::string(key), std::move(value));
}

const KVValue* KVDictionary::find(std::string_view key) const {
    for (const auto& entry : entries_) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

KVValue* KVDictionary::find(std::string_view key) {
    for (auto& entry : entries_) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

bool operator==(const KVDictionary& lhs, const KVDictionary& rhs) {
    return lhs.entries_ == rhs.entries_;
}

} // namespace kavrel
