#pragma once

#include "CompanionCore/model/Logger.hpp"

#include <filesystem>
#include <unistd.h>

namespace kavrel {

// Log lines in the systemd journal: MESSAGE, PRIORITY (6 for information, 4 for a warning, 3 for an
// error), SYSLOG_IDENTIFIER=kavrel-companion, KAVREL_SUBSYSTEM=com.quartzfield.kavrel.companion and
// KAVREL_CATEGORY=<category>. `journalctl SYSLOG_IDENTIFIER=kavrel-companion` shows them.
//
// Without a journal (its socket absent at construction, or a send that fails) each entry becomes one
// line "kavrel-companion[<category>]: <message>" on the fallback descriptor, standard error by
// default, with "warning: " or "error: " before the message of those levels, and control characters
// escaped so that an entry can never look like two. Thread-safe.
class JournalLogger final : public Logger {
public:
    static constexpr const char* identifier = "kavrel-companion";
    static constexpr const char* subsystem = "com.quartzfield.kavrel.companion";

    explicit JournalLogger(const std::filesystem::path& journalSocket = "/run/systemd/journal/socket",
                           int fallbackDescriptor = STDERR_FILENO);

    void log(Level level, std::string_view category, std::string_view message) override;

private:
    void writeFallback(Level level, std::string_view category, std::string_view message) const;

    bool journalPresent;
    int fallbackDescriptor;
};

} // namespace kavrel
