#include "Platform/JournalLogger.hpp"

#include <systemd/sd-journal.h>

#include <array>
#include <cerrno>
#include <string>
#include <sys/uio.h>
#include <system_error>

namespace kavrel {

namespace {

std::string field(std::string_view name, std::string_view value) {
    std::string text;
    text.reserve(name.size() + value.size());
    text.append(name).append(value);
    return text;
}

void appendEscaped(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (character == '\n') {
            out += "\\n";
        } else if (character == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        } else {
            out += character;
        }
    }
}

// How each level is written: its syslog(3) priority, which the journal keeps, and the label of a
// line on standard error when there is no journal.
struct LevelMarks {
    std::string_view priority;
    std::string_view fallbackLabel;
};

LevelMarks marks(Logger::Level level) {
    switch (level) {
    case Logger::Level::warning:
        return {"4", "warning: "};
    case Logger::Level::error:
        return {"3", "error: "};
    case Logger::Level::information:
        break;
    }
    return {"6", ""};
}

} // namespace

JournalLogger::JournalLogger(const std::filesystem::path& journalSocket, int fallbackDescriptor)
    : fallbackDescriptor(fallbackDescriptor) {
    std::error_code ignored;
    journalPresent = std::filesystem::exists(journalSocket, ignored);
}

void JournalLogger::log(Level level, std::string_view category, std::string_view message) {
    if (journalPresent) {
        // sd_journal_sendv takes the bytes as they are: no format string, and values with line
        // breaks are sent in the journal's binary-safe form.
        const std::array<std::string, 5> fields = {
            field("MESSAGE=", message),
            field("PRIORITY=", marks(level).priority),
            field("SYSLOG_IDENTIFIER=", identifier),
            field("KAVREL_SUBSYSTEM=", subsystem),
            field("KAVREL_CATEGORY=", category),
        };
        std::array<iovec, fields.size()> vectors{};
        for (std::size_t index = 0; index < fields.size(); ++index) {
            vectors[index].iov_base = const_cast<char*>(fields[index].data());
            vectors[index].iov_len = fields[index].size();
        }
        if (sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) >= 0) {
            return;
        }
    }
    writeFallback(level, category, message);
}

void JournalLogger::writeFallback(Level level, std::string_view category, std::string_view message) const {
    std::string line = identifier;
    line += '[';
    appendEscaped(line, category);
    line += "]: ";
    line += marks(level).fallbackLabel;
    appendEscaped(line, message);
    line += '\n';
    // One write per entry, so entries from several threads do not interleave.
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t written = ::write(fallbackDescriptor, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return; // nowhere left to report it
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace kavrel
