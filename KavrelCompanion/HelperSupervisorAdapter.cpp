#include "KavrelCompanion/HelperSupervisorAdapter.hpp"

#include "CompanionCore/model/CloudStatus.hpp"
#include "KavrelCompanion/PublishedMirror.hpp"

namespace kavrel {

namespace {

// The status member under `key` when it is a JSON Boolean.
std::optional<bool> booleanMember(const JSONObject& status, std::string_view key) {
    const auto found = status.find(key);
    return found == status.end() ? std::nullopt : found->second.boolean();
}

} // namespace

HelperSupervisorAdapter::HelperSupervisorAdapter(HelperSupervisor& helper, QObject* parent)
    : QObject(parent), helper(helper) {
    subscriptions.push_back(mirror<std::string>(helper.message(), [this](const std::string& text) {
        messageText = QString::fromStdString(text);
        Q_EMIT messageChanged();
    }));
    subscriptions.push_back(mirror<bool>(helper.ready(), [this](bool value) {
        isReady = value;
        Q_EMIT readyChanged();
    }));
    subscriptions.push_back(
        mirror<JSONObject>(helper.status(), [this](const JSONObject& status) { readStatus(status); }));
}

void HelperSupervisorAdapter::readStatus(const JSONObject& status) {
    const auto pairedValue = booleanMember(status, "paired");
    paired = !pairedValue ? QString() : *pairedValue ? "Cloud: paired" : "Cloud: not paired";
    const auto runningValue = booleanMember(status, "running");
    running = !runningValue ? QString() : *runningValue ? "Connector: running" : "Connector: paused";

    const JSONObject* cloudMember = statusMember(status, "cloud");
    cloud = QString::fromStdString(CloudStatus::message(cloudMember));
    const auto code = cloudMember ? cloudMember->find("code") : JSONObject::const_iterator();
    terms = cloudMember && code != cloudMember->end() && code->second.string() &&
            *code->second.string() == "legal_acceptance_required";
    scrobbling = QString::fromStdString(ScrobblingStatus::message(statusMember(status, "scrobbling")));
    Q_EMIT statusChanged();
}

void HelperSupervisorAdapter::reconnect() {
    helper.reconnect();
}

void HelperSupervisorAdapter::checkConnection() {
    helper.send("retryCloud", {}, [weak = helper.weak_from_this()](std::optional<Envelope>) {
        if (auto live = weak.lock()) {
            live->refreshStatus();
        }
    });
}

} // namespace kavrel
