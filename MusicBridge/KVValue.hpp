#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kavrel {

class KVValue;

// A dictionary that keeps its keys in the order they were first set, so diagnostics read in the order
// a snapshot read produced them. Setting an existing key replaces its value in place.
class KVDictionary {
public:
    using Entry = std::pair<std::string, KVValue>;

    void set(std::string_view key, KVValue value);
    const KVValue* find(std::string_view key) const;
    KVValue* find(std::string_view key);
    bool contains(std::string_view key) const;
    std::size_t size() const;
    bool empty() const;
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    friend bool operator==(const KVDictionary& lhs, const KVDictionary& rhs);

private:
    std::vector<Entry> entries_;
};

using KVArray = std::vector<KVValue>;

// The bridge's result values: null, Boolean, number (a double, as on the wire), string, array or
// dictionary. The adapter converts them to its JSON values one to one.
class KVValue {
public:
    KVValue() = default;
    KVValue(std::nullptr_t) {}
    KVValue(bool value) : storage_(value) {}
    KVValue(double value) : storage_(value) {}
    KVValue(int value) : storage_(static_cast<double>(value)) {}
    KVValue(long value) : storage_(static_cast<double>(value)) {}
    KVValue(long long value) : storage_(static_cast<double>(value)) {}
    KVValue(unsigned value) : storage_(static_cast<double>(value)) {}
    KVValue(std::string value) : storage_(std::move(value)) {}
    KVValue(const char* value) : storage_(std::string(value)) {}
    KVValue(KVArray value) : storage_(std::move(value)) {}
    KVValue(KVDictionary value) : storage_(std::move(value)) {}

    bool isNull() const { return std::holds_alternative<std::nullptr_t>(storage_); }
    const bool* boolean() const { return std::get_if<bool>(&storage_); }
    const double* number() const { return std::get_if<double>(&storage_); }
    const std::string* string() const { return std::get_if<std::string>(&storage_); }
    const KVArray* array() const { return std::get_if<KVArray>(&storage_); }
    const KVDictionary* dictionary() const { return std::get_if<KVDictionary>(&storage_); }
    KVDictionary* dictionary() { return std::get_if<KVDictionary>(&storage_); }

    friend bool operator==(const KVValue& lhs, const KVValue& rhs) { return lhs.storage_ == rhs.storage_; }

private:
    std::variant<std::nullptr_t, bool, double, std::string, KVArray, KVDictionary> storage_;
};

// Defined once KVValue is complete: the entries' pair needs it.
inline bool KVDictionary::contains(std::string_view key) const {
    return find(key) != nullptr;
}
inline std::size_t KVDictionary::size() const {
    return entries_.size();
}
inline bool KVDictionary::empty() const {
    return entries_.empty();
}
inline std::vector<KVDictionary::Entry>::const_iterator KVDictionary::begin() const {
    return entries_.begin();
}
inline std::vector<KVDictionary::Entry>::const_iterator KVDictionary::end() const {
    return entries_.end();
}

} // namespace kavrel
