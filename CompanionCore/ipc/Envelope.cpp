#include "CompanionCore/ipc/Envelope.hpp"

#include "CompanionCore/ipc/IPCError.hpp"
#include "CompanionCore/ipc/JSONReader.hpp"
#include "CompanionCore/ipc/JSONWriter.hpp"

#include <array>
#include <charconv>
#include <utility>

namespace kavrel {

Envelope::Envelope(std::string id, std::string type, JSONObject payload)
    : id(std::move(id)), type(std::move(type)), payload(std::move(payload)) {}

bool Envelope::hasValidHeader() const noexcept {
    return v == 1 && !id.empty() && id.size() <= maxIdentifierBytes;
}

std::string Envelope::encodedLine() const {
    std::string line;
    encodeLine(line);
    return line;
}

void Envelope::encodeLine(std::string& line) const {
    line = "{\"v\":";
    std::array<char, 24> version{};
    line.append(version.data(), std::to_chars(version.data(), version.data() + version.size(), v).ptr);
    line += ",\"id\":";
    JSONWriter::writeString(line, id);
    line += ",\"type\":";
    JSONWriter::writeString(line, type);
    line += ",\"payload\":";
    JSONWriter::writeObject(line, payload, 2);
    line += '}';
    if (!hasValidHeader() || line.size() >= frameLimit) {
        throw IPCException(IPCError::invalidFrame);
    }
    line += '\n';
}

Envelope Envelope::decode(std::string_view json) {
    return JSONReader::readEnvelope(json);
}

} // namespace kavrel
