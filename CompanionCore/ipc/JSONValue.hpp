#pragma once

#include "CompanionCore/ipc/JSONError.hpp"

#include <concepts>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kavrel {

class JSONValue;
using JSONObject = std::map<std::string, JSONValue, std::less<>>;
using JSONArray = std::vector<JSONValue>;

template <class T>
concept JSONInteger =
    std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, wchar_t> &&
    !std::same_as<T, char8_t> && !std::same_as<T, char16_t> && !std::same_as<T, char32_t>;

// Any JSON value. Numbers are 64-bit doubles; integers beyond 2^53 lose precision.
// Copying and comparing never recurse and destroying recurses only a few levels, so values built in
// code may nest arbitrarily deep; reading and writing stop at maxDepth levels.
class JSONValue {
public:
    enum class Kind { string, number, boolean, object, array, null };

    // Deepest nesting of arrays and objects that is read or written. A bound on the reader's and
    // writer's stack use; far beyond anything the connector sends.
    static constexpr std::size_t maxDepth = 512;

    JSONValue() noexcept = default;
    JSONValue(std::nullptr_t) noexcept {}
    JSONValue(std::string text) : storage(std::move(text)) {}
    JSONValue(std::string_view text) : storage(std::string(text)) {}
    JSONValue(const char* text) : storage(std::string(text)) {}
    JSONValue(double number) noexcept : storage(number) {}
    template <JSONInteger T> JSONValue(T number) noexcept : storage(static_cast<double>(number)) {}
    JSONValue(bool flag) noexcept : storage(flag) {}
    JSONValue(JSONObject members) : storage(std::move(members)) {}
    JSONValue(JSONArray elements) : storage(std::move(elements)) {}
    // Any other pointer would silently become a boolean.
    template <class T> JSONValue(const T*) = delete;

    JSONValue(const JSONValue& other);
    JSONValue(JSONValue&& other) noexcept;
    JSONValue& operator=(const JSONValue& other);
    JSONValue& operator=(JSONValue&& other) noexcept;
    ~JSONValue();

    Kind kind() const noexcept { return static_cast<Kind>(storage.index()); }
    const std::string* string() const noexcept { return std::get_if<std::string>(&storage); }
    std::string* string() noexcept { return std::get_if<std::string>(&storage); }
    std::optional<double> number() const noexcept;
    std::optional<bool> boolean() const noexcept;
    const JSONObject* object() const noexcept { return std::get_if<JSONObject>(&storage); }
    JSONObject* object() noexcept { return std::get_if<JSONObject>(&storage); }
    const JSONArray* array() const noexcept { return std::get_if<JSONArray>(&storage); }
    JSONArray* array() noexcept { return std::get_if<JSONArray>(&storage); }
    bool isNull() const noexcept { return kind() == Kind::null; }

    // Structural: same kind and equal contents; numbers compare as doubles (0.0 == -0.0, NaN != NaN).
    friend bool operator==(const JSONValue& lhs, const JSONValue& rhs);

    // Reads one JSON text: valid UTF-8, unique keys in every object, at most maxDepth levels.
    static JSONValue parse(std::string_view json);

    // Compact JSON. Throws JSONError on a non-finite number, a string or key that is not valid
    // UTF-8, or nesting deeper than maxDepth.
    std::string serialized() const;
    void serialize(std::string& out) const;

private:
    // Alternatives in the order of Kind, so that kind() is the index.
    using Storage = std::variant<std::string, double, bool, JSONObject, JSONArray, std::nullptr_t>;

    // The same kind and scalar, with empty containers: one level of a copy.
    JSONValue shallowCopy() const;
    bool hasChildren() const noexcept;
    void clearChildren() noexcept;
    void moveChildrenInto(std::vector<JSONValue>& pending);

    Storage storage{std::in_place_type<std::nullptr_t>};
};

} // namespace kavrel
