#include "CompanionCore/supervisor/HelperSupervisor.hpp"

#include "CompanionCore/ipc/IPCError.hpp"
#include "CompanionCore/ipc/JSONError.hpp"
#include "CompanionCore/runtime/PlaceWording.hpp"
#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/SecretBytes.hpp"
#include "CompanionCore/storage/SecretStore.hpp"
#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "CompanionCore/supervisor/ConnectorContract.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kavrel {

namespace {

constexpr const char* startingText = "Starting companion…";
constexpr const char* connectingText = "Connecting companion…";
constexpr const char* readyText = "Local helper ready";
constexpr std::string_view keychainText = PlaceWording::keyringUnavailable;
constexpr const char* bundleText = "The bundled connector could not start. Reinstall this companion build.";
constexpr const char* protocolErrorText = "Connector protocol error. Reconnecting…";
constexpr const char* unresponsiveText = "Connector did not respond. Reconnecting…";
constexpr const char* stoppedText = "Connector stopped. Reconnecting…";

// The "initialize" line: its header and the payload's key name (under 200 bytes) and the key text
// (64 hexadecimal characters), with ample room to spare.
constexpr std::size_t secretLineCapacity = 1024;

bool isLaunchable(const std::filesystem::path& executable) {
    if (!executable.is_absolute()) {
        return false;
    }
    struct stat info {};
    return ::stat(executable.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::faccessat(AT_FDCWD, executable.c_str(), X_OK, AT_EACCESS) == 0;
}

// Only a definite "nothing there" lets a new key be made: a directory that cannot be examined must
// not pass for one without connector state.
bool connectorStateMayExist(const std::filesystem::path& directory) {
    std::error_code error;
    const auto entry = std::filesystem::symlink_status(directory / ConnectorContract::configFileName, error);
    return entry.type() != std::filesystem::file_type::not_found;
}

// A line on its way to the writer queue. One that carries the storage key is wiped once the last
// owner lets go, whether it was written or dropped with the queue.
struct OutboundLine {
    std::string bytes;
    bool secret = false;

    ~OutboundLine() {
        if (secret) {
            wipeMemory(bytes.data(), bytes.size());
        }
    }
};

bool succeeded(const Envelope& reply) {
    const auto ok = reply.payload.find("ok");
    return ok != reply.payload.end() && ok->second.boolean() == true;
}

} // namespace

// The key provider's answer on its way from the keyring queue to the main loop; shared, so that no
// copy of a task copies the key, and wiped once the last owner lets go.
struct HelperSupervisor::FetchedKey {
    enum class Outcome { key, storageFailure, otherFailure };

    std::string text;
    Outcome outcome = Outcome::otherFailure;

    ~FetchedKey() { wipeMemory(text.data(), text.size()); }
};

std::string HelperSupervisor::describe(std::string_view code) {
    static constexpr std::string_view invalidCode =
        "That pairing code is invalid or expired. Create a new code in Kavrel.";
    static constexpr std::string_view alreadyPaired =
        "Already paired. Choose Replace pairing to change accounts.";
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> texts{{
        {"migration_required",
         "This folder contains legacy connector settings. Use a fresh desktop state folder."},
        {"invalid_code", invalidCode},
        {"pairing_expired", invalidCode},
        {"already_paired", alreadyPaired},
        {"replacement_required", alreadyPaired},
    }};
    for (const auto& [known, text] : texts) {
        if (code == known) {
            return std::string(text);
        }
    }
    return "The connector could not complete that request. Check your connection and try again.";
}

std::shared_ptr<HelperSupervisor> HelperSupervisor::create(Ports ports, std::filesystem::path executable,
                                                           std::filesystem::path directory,
                                                           KeyProvider storageKey) {
    if (!storageKey) {
        storageKey = [&secrets = ports.secrets, directory] {
            return StorageKey::loadOrCreate(secrets, !connectorStateMayExist(directory));
        };
    }
    return std::shared_ptr<HelperSupervisor>(new HelperSupervisor(
        std::move(ports), std::move(executable), std::move(directory), std::move(storageKey)));
}

HelperSupervisor::HelperSupervisor(Ports ports, std::filesystem::path executable,
                                   std::filesystem::path directory, KeyProvider storageKey)
    : loop(ports.loop), launcher(ports.launcher), messageLine(startingText), readyFlag(false),
      statusObject(JSONObject{}),
      writer(ports.writer ? std::move(ports.writer)
                          : std::make_unique<ThreadSerialQueue>(std::string(writerLabel))),
      keyring(ports.keyring ? std::move(ports.keyring)
                            : std::make_unique<ThreadSerialQueue>(std::string(keyringLabel))),
      launchedAt(ports.loop.now()), generation(makeUUIDString()), executable(std::move(executable)),
      directory(std::move(directory)), storageKey(std::move(storageKey)) {}

HelperSupervisor::~HelperSupervisor() {
    // Queued writes then end at once instead of waiting on a child that may never read them.
    if (input) {
        input->close();
    }
    writer.reset();
}

std::optional<std::string> HelperSupervisor::readChunk(int descriptor) {
    std::array<char, chunkBytes> buffer;
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
        if (count >= 0) {
            return std::string(buffer.data(), static_cast<std::size_t>(count));
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

void HelperSupervisor::launch() {
    if (process || shuttingDown || fetchingKey) {
        return;
    }
    restart.cancel();
    if (!isLaunchable(executable)) {
        messageLine.set(bundleText);
        return;
    }
    // The keyring may answer only after an unlock prompt: the interface must not wait for it.
    fetchingKey = true;
    keyring->async([weak = weak_from_this(), mainLoop = &loop, provider = storageKey] {
        auto fetched = std::make_shared<FetchedKey>();
        try {
            fetched->text = provider();
            fetched->outcome = FetchedKey::Outcome::key;
        } catch (const StorageError&) {
            fetched->outcome = FetchedKey::Outcome::storageFailure;
        } catch (...) {
            fetched->outcome = FetchedKey::Outcome::otherFailure;
        }
        mainLoop->post([weak, fetched] {
            if (auto self = weak.lock()) {
                self->keyArrived(*fetched);
            }
        });
    });
}

void HelperSupervisor::keyArrived(FetchedKey& fetched) {
    fetchingKey = false;
    if (shuttingDown) {
        return;
    }
    if (fetched.outcome != FetchedKey::Outcome::key) {
        messageLine.set(fetched.outcome == FetchedKey::Outcome::storageFailure ? std::string(keychainText)
                                                                               : bundleText);
        return;
    }
    std::unique_ptr<ChildProcess> child;
    try {
        generation = makeUUIDString();
        child = launcher.spawn(executable, ConnectorContract::arguments(directory),
                               ConnectorContract::environment(PrivateStorage::homeDirectory()),
                               [weak = weak_from_this(), childGeneration = generation](int) {
                                   if (auto self = weak.lock()) {
                                       self->exited(childGeneration);
                                   }
                               });
    } catch (...) {
        messageLine.set(bundleText);
        return;
    }

    launchedAt = loop.now();
    process = std::move(child);
    input = process->input();

    decoder = JSONLDecoder();
    readyFlag.set(false);
    messageLine.set(connectingText);
    const auto weak = weak_from_this();
    outputWatch = loop.watchReadable(process->outputDescriptor(),
                                     [weak, fd = process->outputDescriptor(), childGeneration = generation] {
                                         if (auto self = weak.lock()) {
                                             self->readOutput(fd, childGeneration);
                                         }
                                     });
    diagnosticsWatch =
        loop.watchReadable(process->diagnosticsDescriptor(), [weak, fd = process->diagnosticsDescriptor()] {
            if (auto self = weak.lock()) {
                self->drainDiagnostics(fd);
            }
        });
    timer = loop.every(maintenanceInterval, [weak] {
        if (auto self = weak.lock()) {
            self->expireCommands();
        }
    });
    sendInitialize(fetched.text);
}

void HelperSupervisor::sendInitialize(std::string& key) {
    // The key's buffer moves into the payload and is wiped there once the line is made: the line
    // itself (built in one buffer) is wiped when the writer queue lets go of it.
    JSONObject payload;
    payload.emplace("storageKey", std::move(key));
    Envelope envelope(makeUUIDString(), "initialize", std::move(payload));
    submit(
        envelope,
        [weak = weak_from_this()](std::optional<Envelope> reply) {
            if (auto self = weak.lock()) {
                self->completeInitialize(reply);
            }
        },
        true);
    std::string& sent = *envelope.payload.at("storageKey").string();
    wipeMemory(sent.data(), sent.size());
}

void HelperSupervisor::completeInitialize(const std::optional<Envelope>& reply) {
    if (reply && succeeded(*reply)) {
        readyFlag.set(true);
        messageLine.set(readyText);
        refreshStatus();
        if (onReady) {
            onReady();
        }
        return;
    }
    std::string code = "initialize_failed";
    if (reply) {
        if (const auto found = reply->payload.find("code");
            found != reply->payload.end() && found->second.string()) {
            code = *found->second.string();
        }
    }
    messageLine.set(describe(code));
    retrySuppressed = true;
    stopChild();
}

void HelperSupervisor::readOutput(int descriptor, const std::string& childGeneration) {
    const auto chunk = readChunk(descriptor);
    if (!chunk) {
        return;
    }
    if (chunk->empty() && childGeneration == generation) {
        outputWatch.cancel();
    }
    receive(*chunk, childGeneration);
}

void HelperSupervisor::drainDiagnostics(int descriptor) {
    // Never shown, logged or parsed; one buffer at a time, so a flood costs no memory.
    const auto chunk = readChunk(descriptor);
    if (chunk && chunk->empty()) {
        diagnosticsWatch.cancel();
    }
}

void HelperSupervisor::receive(const std::string& chunk, const std::string& childGeneration) {
    if (childGeneration != generation) {
        return;
    }
    if (chunk.empty()) {
        if (process && process->isRunning()) {
            stopChild();
        }
        return;
    }
    std::vector<Envelope> envelopes;
    try {
        envelopes = decoder.append(chunk);
    } catch (const std::exception&) {
        // A child already being stopped may write anything on its way out; its stop has its text.
        if (!isStopping()) {
            messageLine.set(protocolErrorText);
            stopChild();
        }
        return;
    }
    for (const auto& envelope : envelopes) {
        dispatch(envelope);
    }
}

void HelperSupervisor::dispatch(const Envelope& envelope) {
    if (envelope.type == "result") {
        const auto found = pending.find(envelope.id);
        if (found == pending.end()) {
            return;
        }
        const Completion completion = std::move(found->second.completion);
        pending.erase(found);
        completion(envelope);
    } else if (envelope.type == "status") {
        statusObject.set(envelope.payload);
    } else if (envelope.type == "nativeCommand") {
        if (onNativeCommand) {
            onNativeCommand(envelope);
        }
    }
}

void HelperSupervisor::refreshStatus() {
    if (!readyFlag.value()) {
        return;
    }
    lastStatus = loop.now();
    send("status", {}, [weak = weak_from_this()](std::optional<Envelope> reply) {
        auto self = weak.lock();
        if (!self || !reply) {
            return;
        }
        const auto data = reply->payload.find("data");
        if (data != reply->payload.end() && data->second.object()) {
            self->statusObject.set(*data->second.object());
        }
    });
}

void HelperSupervisor::send(std::string_view type, JSONObject payload, Completion completion) {
    submit(Envelope(makeUUIDString(), std::string(type), std::move(payload)), std::move(completion), false);
}

void HelperSupervisor::submit(const Envelope& envelope, Completion completion, bool secret) {
    if (!process || !process->isRunning() || pending.size() >= maxPendingCommands) {
        if (completion) {
            completion(std::nullopt);
        }
        return;
    }
    if (!completion) {
        completion = [](std::optional<Envelope>) {
        };
    }
    pending.emplace(envelope.id, PendingCommand{loop.now() + commandDeadline, std::move(completion)});
    write(envelope, secret);
}

void HelperSupervisor::reply(const Envelope& envelope) {
    if (envelope.type == "nativeResult") {
        write(envelope, false);
    }
}

void HelperSupervisor::write(const Envelope& envelope, bool secret) {
    if (!input) {
        return;
    }
    auto line = std::make_shared<OutboundLine>();
    line->secret = secret;
    if (secret) {
        // Room for the whole line, so that growing it leaves no partial copy of the key behind.
        line->bytes.reserve(secretLineCapacity);
    }
    try {
        envelope.encodeLine(line->bytes);
    } catch (const JSONError&) {
        return;
    } catch (const IPCException&) {
        return;
    }
    writer->async([weak = weak_from_this(), mainLoop = &loop, target = input, line = std::move(line),
                   childGeneration = generation] {
        if (target->write(line->bytes) == ChildInput::Outcome::failed) {
            mainLoop->post([weak, childGeneration] {
                if (auto self = weak.lock()) {
                    self->writeFailed(childGeneration);
                }
            });
        }
    });
}

void HelperSupervisor::writeFailed(const std::string& childGeneration) {
    if (childGeneration == generation) {
        stopChild();
    }
}

void HelperSupervisor::expireCommands() {
    if (readyFlag.value() && (!lastStatus || loop.now() - *lastStatus >= statusInterval)) {
        refreshStatus();
    }
    if (isStopping()) {
        return; // already on its way out; its stop keeps its own text
    }
    const auto now = loop.now();
    const bool overdue = std::any_of(pending.begin(), pending.end(),
                                     [now](const auto& entry) { return entry.second.deadline < now; });
    if (overdue) {
        messageLine.set(unresponsiveText);
        stopChild();
    }
}

bool HelperSupervisor::isStopping() const {
    return process && !input;
}

void HelperSupervisor::stopChild() {
    // A child already being stopped is not stopped again: every trigger that follows the first
    // (end of output, a broken pipe, a late reply) is a consequence of that stop.
    if (!process || isStopping()) {
        return;
    }
    const auto closing = std::exchange(input, nullptr);
    readyFlag.set(false);
    if (onUnavailable) {
        onUnavailable();
    }
    closing->close();
    if (!process) {
        return;
    }
    if (process->isRunning()) {
        process->signal(SIGTERM);
    }
    killTimer =
        loop.after(killGrace, [weak = weak_from_this(), child = std::weak_ptr<ChildProcess>(process)] {
            auto self = weak.lock();
            auto stopping = child.lock();
            if (self && stopping && self->process == stopping && stopping->isRunning()) {
                stopping->signal(SIGKILL);
            }
        });
}

void HelperSupervisor::exited(const std::string& childGeneration) {
    if (childGeneration != generation) {
        return;
    }
    readyFlag.set(false);
    if (onUnavailable) {
        onUnavailable();
    }
    outputWatch.cancel();
    diagnosticsWatch.cancel();
    if (input) {
        input->close();
        input.reset();
    }
    process.reset();
    timer.cancel();
    killTimer.cancel();

    auto lost = std::exchange(pending, {});
    for (auto& entry : lost) {
        entry.second.completion(std::nullopt);
    }
    // A completion that relaunched has already replaced this child.
    if (shuttingDown || retrySuppressed || process) {
        return;
    }
    int n = 0;
    if (loop.now() - launchedAt < stableRun) {
        if (failures >= maxQuickRestarts) {
            // Given up: the line keeps its text, but never claims a connector that is gone is ready.
            if (messageLine.value() == readyText) {
                messageLine.set(stoppedText);
            }
            return;
        }
        n = failures;
    }
    failures = n + 1;
    const auto delay = std::min<std::chrono::seconds>(std::chrono::seconds(1LL << n), maxRestartDelay);
    messageLine.set(stoppedText);
    restart = loop.after(delay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->launch();
        }
    });
}

void HelperSupervisor::reconnect() {
    failures = 0;
    retrySuppressed = false;
    if (process) {
        stopChild();
    } else {
        launch();
    }
}

void HelperSupervisor::shutdown() {
    shuttingDown = true;
    restart.cancel();
    timer.cancel();
    const auto child = process;
    stopChild();
    if (child && !child->waitForExit(killGrace)) {
        child->signal(SIGKILL);
        child->waitForExit(exitWaitAfterKill);
    }
}

} // namespace kavrel
