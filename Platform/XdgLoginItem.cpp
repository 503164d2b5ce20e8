#include "Platform/XdgLoginItem.hpp"

#include "Platform/AtomicFile.hpp"
#include "Platform/ConfigText.hpp"
#include "Platform/XdgPaths.hpp"

#include <simdjson.h>

#include <cerrno>
#include <fstream>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace kavrel {

namespace {

// A value of type string: a backslash is written as "\\" (control characters are refused earlier).
std::string escapedValue(std::string_view text) {
    std::string result;
    for (const char character : text) {
        if (character == '\\') {
            result += '\\';
        }
        result += character;
    }
    return result;
}

// One argument of Exec: quoted when it holds a reserved character, with " ` $ \ escaped inside the
// quotes, and every % doubled so that it is not read as a field code.
std::string execArgument(std::string_view argument) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quote = argument.find_first_of(reserved) != std::string_view::npos;
    std::string result;
    if (quote) {
        result += '"';
    }
    for (const char character : argument) {
        if (quote && (character == '"' || character == '`' || character == '$' || character == '\\')) {
            result += '\\';
        }
        result += character;
        if (character == '%') {
            result += '%';
        }
    }
    if (quote) {
        result += '"';
    }
    return result;
}

using ConfigText::trimmed;

} // namespace

XdgLoginItem::XdgLoginItem(std::filesystem::path executable)
    : executable(std::move(executable)), entryFile(XdgPaths::configHome() / "autostart" / fileName) {}

std::string XdgLoginItem::entryText(const std::filesystem::path& executable) {
    const std::string path = executable.string();
    if (!executable.is_absolute()) {
        throw LoginItemError("the executable path " + path + " is not absolute");
    }
    if (!simdjson::validate_utf8(path.data(), path.size())) {
        throw LoginItemError("the executable path is not valid UTF-8");
    }
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7f) {
            throw LoginItemError("the executable path holds a control character");
        }
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kavrel Companion\n"
           "Exec=" +
           escapedValue(execArgument(path)) +
           "\n"
           "TryExec=" +
           escapedValue(path) +
           "\n"
           "Icon=kavrel-companion\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool XdgLoginItem::isEnabled() const {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(entryFile, ignored)) {
        return false;
    }
    std::ifstream stream(entryFile);
    if (!stream) {
        return false;
    }
    bool inMainGroup = false;
    std::string line;
    while (std::getline(stream, line)) {
        const std::string_view text = trimmed(line);
        if (text.starts_with('[')) {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        const auto equals = text.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmed(text.substr(0, equals));
        const std::string_view value = trimmed(text.substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return !stream.bad();
}

void XdgLoginItem::setEnabled(bool enabled) {
    if (enabled) {
        const std::string text = entryText(executable);
        try {
            AtomicFile::createDirectories(entryFile.parent_path());
            AtomicFile::replace(entryFile, text, 0644);
        } catch (const std::system_error& error) {
            throw LoginItemError(std::string("cannot write the autostart entry: ") + error.what());
        }
        return;
    }
    if (::unlink(entryFile.c_str()) != 0 && errno != ENOENT) {
        const std::string reason = std::generic_category().message(errno);
        throw LoginItemError("cannot remove the autostart entry " + entryFile.string() + ": " + reason);
    }
}

} // namespace kavrel
