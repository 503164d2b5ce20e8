#include "CompanionCore/music/MusicDiagnosticsReport.hpp"

#include "CompanionCore/ipc/JSONError.hpp"
#include "CompanionCore/ipc/JSONWriter.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace kavrel::MusicDiagnosticsReport {

namespace {

constexpr std::array<std::string_view, 13> numericKeys = {
    "automationStatus",      "identifierReadError",   "libraryLookupError",    "libraryDescriptorType",
    "libraryReferenceClass", "currentReferenceError", "currentDescriptorType", "currentReferenceClass",
    "currentReferenceForm",  "currentContainerClass", "resolvedIdentityError", "capturedIdentityError",
    "favoriteReadError"};

constexpr std::array<std::string_view, 14> booleanKeys = {
    "automationAllowed",  "persistentIdAvailable",    "databaseIdAvailable",      "itemIdAvailable",
    "cachedReference",    "libraryLookupAttempted",   "libraryReferenceAccepted", "currentFileShape",
    "currentStreamShape", "currentSubscriptionShape", "currentUserPlaylistShape", "resolvedIdentityMatches",
    "favoriteReadable",   "favoriteWritable"};

constexpr std::array<std::string_view, 8> stages = {
    "not_observed", "unavailable", "reading_playback",     "connection_failed",
    "stopped",      "ready",       "favorite_read_failed", "reference_unavailable"};

constexpr std::array<std::string_view, 6> chainNumberKeys = {
    "descriptorType", "referenceClass", "referenceForm", "fieldCount", "identifierType", "identifierSize"};

constexpr std::array<std::string_view, 3> chainBooleanKeys = {"classValid", "formValid", "identifierNonzero"};

constexpr std::array<std::string_view, 5> terminations = {"null", "unsupported", "missing",
                                                          "missing_container", "depth_limit"};

template <std::size_t N> bool contains(const std::array<std::string_view, N>& list, std::string_view text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

bool isFiniteNumber(const JSONValue& value) {
    const auto number = value.number();
    return number && std::isfinite(*number);
}

// A four-character code or a count: a whole number that fits in 32 unsigned bits.
bool isWhole32(const JSONValue& value) {
    const auto number = value.number();
    return number && *number >= 0 && *number <= 4294967295.0 && std::floor(*number) == *number;
}

bool isAllowedString(const JSONValue& value, const auto& allowed) {
    const auto* text = value.string();
    return text && contains(allowed, *text);
}

JSONObject filteredChainEntry(const JSONObject& entry) {
    JSONObject kept;
    for (const auto& [key, value] : entry) {
        if ((contains(chainNumberKeys, key) && isWhole32(value)) ||
            (contains(chainBooleanKeys, key) && value.boolean()) ||
            (key == "termination" && isAllowedString(value, terminations))) {
            kept.emplace(key, value);
        }
    }
    return kept;
}

JSONArray filteredChain(const JSONArray& chain) {
    JSONArray kept;
    const auto considered = std::min(chain.size(), maxChainEntries);
    for (std::size_t index = 0; index < considered; ++index) {
        if (const auto* entry = chain[index].object()) {
            kept.emplace_back(filteredChainEntry(*entry));
        }
    }
    return kept;
}

void writeIndent(std::string& out, std::size_t level) {
    out += '\n';
    out.append(level * 2, ' ');
}

// The report nests three levels at most (report, chain, entry), so recursion is bounded.
void writePretty(std::string& out, const JSONValue& value, std::size_t level) {
    if (const auto* members = value.object()) {
        if (members->empty()) {
            out += "{}";
            return;
        }
        out += '{';
        bool first = true;
        for (const auto& [key, member] : *members) {
            out += first ? "" : ",";
            first = false;
            writeIndent(out, level + 1);
            JSONWriter::writeString(out, key);
            out += " : ";
            writePretty(out, member, level + 1);
        }
        writeIndent(out, level);
        out += '}';
    } else if (const auto* elements = value.array()) {
        if (elements->empty()) {
            out += "[]";
            return;
        }
        out += '[';
        for (std::size_t index = 0; index < elements->size(); ++index) {
            out += index == 0 ? "" : ",";
            writeIndent(out, level + 1);
            writePretty(out, (*elements)[index], level + 1);
        }
        writeIndent(out, level);
        out += ']';
    } else {
        JSONWriter::writeValue(out, value, level + 1);
    }
}

} // namespace

std::string diagnosticReport(const JSONObject& diagnostics) {
    JSONObject report{{"schemaVersion", 1}};
    for (const auto& [key, value] : diagnostics) {
        if ((contains(numericKeys, key) && isFiniteNumber(value)) ||
            (contains(booleanKeys, key) && value.boolean()) ||
            (key == "stage" && isAllowedString(value, stages))) {
            report.emplace(key, value);
        }
    }
    if (const auto chain = diagnostics.find("currentReferenceChain"); chain != diagnostics.end()) {
        if (const auto* entries = chain->second.array()) {
            report.emplace("currentReferenceChain", filteredChain(*entries));
        }
    }
    try {
        std::string text;
        writePretty(text, JSONValue(std::move(report)), 0);
        return text;
    } catch (const JSONError&) {
        return std::string(unavailableText);
    }
}

} // namespace kavrel::MusicDiagnosticsReport
