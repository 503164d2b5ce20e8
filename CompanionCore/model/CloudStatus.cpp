#include "CompanionCore/model/CloudStatus.hpp"

#include "CompanionCore/runtime/PlaceWording.hpp"

#include <cmath>
#include <cstdint>

namespace kavrel {

namespace {

const std::string* stringMember(const JSONObject& object, std::string_view key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : found->second.string();
}

// A count the connector reports; anything that is not a plausible count reads as none.
std::int64_t count(const JSONObject& object, std::string_view key) {
    constexpr double maxCount = 100'000;
    const auto found = object.find(key);
    const auto number = found == object.end() ? std::nullopt : found->second.number();
    if (!number || !std::isfinite(*number) || *number < 0 || *number > maxCount) {
        return 0;
    }
    return static_cast<std::int64_t>(*number);
}

} // namespace

const JSONObject* statusMember(const JSONObject& status, std::string_view key) {
    const auto found = status.find(key);
    return found == status.end() ? nullptr : found->second.object();
}

std::string CloudStatus::message(const JSONObject* cloud) {
    const std::string* code = cloud ? stringMember(*cloud, "code") : nullptr;
    if (!code) {
        return {};
    }
    if (*code == "authorization_invalid") {
        return "Cloud uploads paused. Pair again using a new code from Kavrel Settings.";
    }
    if (*code == "legal_acceptance_required") {
        return "Cloud uploads paused. Open Kavrel to accept updated terms, then check the connection.";
    }
    if (*code == "connection_unavailable") {
        return std::string(PlaceWording::cloudWaiting);
    }
    return {};
}

std::string ScrobblingStatus::message(const JSONObject* scrobbling) {
    static const std::string offText = "Scrobbling off. Enable Apple Music scrobbling in Kavrel Settings.";
    if (!scrobbling) {
        return "Enable Apple Music scrobbling in Kavrel Settings.";
    }
    const std::string* code = stringMember(*scrobbling, "code");
    std::string text;
    if (scrobbling->empty()) {
        text = offText;
    } else if (code && !code->empty()) {
        if (*code == "authorization_invalid") {
            text = "Reconnect Last.fm in Kavrel Settings to resume scrobbling.";
        } else if (code->starts_with("storage_")) {
            text = "Scrobbling paused: local storage could not be saved. Restart the companion to retry.";
        } else {
            text = PlaceWording::scrobblingWaiting;
        }
    } else {
        const auto enabled = scrobbling->find("enabled");
        const bool on = enabled != scrobbling->end() && enabled->second.boolean() == true;
        text = on ? "Scrobbling to Last.fm" : offText;
    }

    const auto append = [&text](std::int64_t value, std::string_view before, std::string_view after) {
        if (value > 0) {
            text += before;
            text += std::to_string(value);
            text += after;
        }
    };
    append(count(*scrobbling, "pending"), " · ", " pending");
    append(count(*scrobbling, "checking"), " · Checking ", " uncertain submissions");
    append(count(*scrobbling, "ignored"), " · ", " plays not accepted by Last.fm");
    append(count(*scrobbling, "dropped"), " · ", " plays expired or exceeded queue capacity");
    return text;
}

} // namespace kavrel
