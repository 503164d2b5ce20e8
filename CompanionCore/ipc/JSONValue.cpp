#include "CompanionCore/ipc/JSONValue.hpp"

#include "CompanionCore/ipc/JSONReader.hpp"
#include "CompanionCore/ipc/JSONWriter.hpp"

#include <type_traits>
#include <utility>

namespace kavrel {
namespace {

// Two scalars of one kind: the texts, or the optional number and flag (both none for null).
bool scalarsEqual(const JSONValue& left, const JSONValue& right) {
    if (const std::string* text = left.string()) {
        return *text == *right.string();
    }
    return left.number() == right.number() && left.boolean() == right.boolean();
}

} // namespace

// Copies level by level with an explicit work list, so the depth of the value never reaches the stack.
JSONValue::JSONValue(const JSONValue& other) : JSONValue(other.shallowCopy()) {
    std::vector<std::pair<const JSONValue*, JSONValue*>> work{{&other, this}};
    while (!work.empty()) {
        const auto [from, to] = work.back();
        work.pop_back();
        if (const JSONArray* elements = from->array()) {
            JSONArray& copies = *to->array();
            copies.reserve(elements->size());
            for (const JSONValue& element : *elements) {
                copies.push_back(element.shallowCopy());
            }
            for (std::size_t index = 0; index < elements->size(); ++index) {
                if ((*elements)[index].hasChildren()) {
                    work.emplace_back(&(*elements)[index], &copies[index]);
                }
            }
        } else if (const JSONObject* members = from->object()) {
            JSONObject& copies = *to->object();
            for (const auto& [key, member] : *members) {
                JSONValue& copy = copies.emplace_hint(copies.end(), key, member.shallowCopy())->second;
                if (member.hasChildren()) {
                    work.emplace_back(&member, &copy);
                }
            }
        }
    }
}

// Out of line: inlined into callers, GCC 12 reports the variant's move as maybe-uninitialized.
JSONValue::JSONValue(JSONValue&& other) noexcept = default;

JSONValue& JSONValue::operator=(const JSONValue& other) {
    JSONValue copy(other);
    storage.swap(copy.storage);
    return *this;
}

// Taking the source first keeps `v = std::move(v.array()->front())` safe; the old content is then
// disposed of by the temporary's destructor.
JSONValue& JSONValue::operator=(JSONValue&& other) noexcept {
    JSONValue taken(std::move(other));
    storage.swap(taken.storage);
    return *this;
}

// Shallow values are freed by plain recursion. Past a fixed depth, nested containers are moved out
// onto a heap list before anything is freed, so the stack never grows further.
JSONValue::~JSONValue() {
    if (!hasChildren()) {
        return;
    }
    constexpr std::size_t recursionBudget = 64;
    thread_local std::size_t destroyingDepth = 0;
    if (destroyingDepth < recursionBudget) {
        ++destroyingDepth;
        clearChildren();
        --destroyingDepth;
        return;
    }
    std::vector<JSONValue> pending;
    moveChildrenInto(pending);
    while (!pending.empty()) {
        JSONValue last = std::move(pending.back());
        pending.pop_back();
        last.moveChildrenInto(pending);
    }
}

std::optional<double> JSONValue::number() const noexcept {
    if (const double* value = std::get_if<double>(&storage)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<bool> JSONValue::boolean() const noexcept {
    if (const bool* value = std::get_if<bool>(&storage)) {
        return *value;
    }
    return std::nullopt;
}

bool operator==(const JSONValue& lhs, const JSONValue& rhs) {
    std::vector<std::pair<const JSONValue*, const JSONValue*>> work{{&lhs, &rhs}};
    while (!work.empty()) {
        const auto [left, right] = work.back();
        work.pop_back();
        if (left->kind() != right->kind()) {
            return false;
        }
        if (const JSONArray* elements = left->array()) {
            const JSONArray& others = *right->array();
            if (elements->size() != others.size()) {
                return false;
            }
            for (std::size_t index = 0; index < elements->size(); ++index) {
                work.emplace_back(&(*elements)[index], &others[index]);
            }
        } else if (const JSONObject* members = left->object()) {
            const JSONObject& others = *right->object();
            if (members->size() != others.size()) {
                return false;
            }
            for (auto mine = members->begin(), theirs = others.begin(); mine != members->end();
                 ++mine, ++theirs) {
                if (mine->first != theirs->first) {
                    return false;
                }
                work.emplace_back(&mine->second, &theirs->second);
            }
        } else if (!scalarsEqual(*left, *right)) {
            return false;
        }
    }
    return true;
}

JSONValue JSONValue::parse(std::string_view json) {
    return JSONReader::readValue(json);
}

std::string JSONValue::serialized() const {
    std::string out;
    serialize(out);
    return out;
}

void JSONValue::serialize(std::string& out) const {
    JSONWriter::writeValue(out, *this, 1);
}

JSONValue JSONValue::shallowCopy() const {
    return std::visit(
        [](const auto& content) -> JSONValue {
            using Content = std::decay_t<decltype(content)>;
            if constexpr (std::is_same_v<Content, JSONObject> || std::is_same_v<Content, JSONArray>) {
                return Content{};
            } else {
                return content;
            }
        },
        storage);
}

bool JSONValue::hasChildren() const noexcept {
    if (const JSONArray* elements = array()) {
        return !elements->empty();
    }
    if (const JSONObject* members = object()) {
        return !members->empty();
    }
    return false;
}

void JSONValue::clearChildren() noexcept {
    if (JSONArray* elements = array()) {
        elements->clear();
    } else if (JSONObject* members = object()) {
        members->clear();
    }
}

void JSONValue::moveChildrenInto(std::vector<JSONValue>& pending) {
    const auto detach = [&pending](JSONValue& child) {
        if (child.hasChildren()) {
            pending.push_back(std::move(child));
            child.storage.emplace<std::nullptr_t>();
        }
    };
    if (JSONArray* elements = array()) {
        for (JSONValue& element : *elements) {
            detach(element);
        }
    } else if (JSONObject* members = object()) {
        for (auto& member : *members) {
            detach(member.second);
        }
    }
}

} // namespace kavrel
