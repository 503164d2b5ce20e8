#pragma once

#include "CompanionCore/runtime/LoginItem.hpp"

#include <filesystem>
#include <string>

namespace kavrel {

// Start at login as an XDG autostart entry, $XDG_CONFIG_HOME/autostart/kavrel-companion.desktop,
// which freedesktop.org desktops (GNOME, KDE Plasma, Xfce, ...) run at login.
//
// Enabled means the file exists, is readable and is not switched off in its [Desktop Entry] group,
// either by Hidden=true or by X-GNOME-Autostart-enabled=false (GNOME's own off switch, which its
// settings tools write). Enabling writes the whole entry atomically; disabling removes the file.
class XdgLoginItem final : public LoginItem {
public:
    static constexpr const char* fileName = "kavrel-companion.desktop";

    // The entry starts `executable`, an absolute path. The location is taken from the environment now.
    explicit XdgLoginItem(std::filesystem::path executable);

    const std::filesystem::path& file() const noexcept { return entryFile; }

    bool isEnabled() const override;
    void setEnabled(bool enabled) override;

    // The text of the entry for `executable`, quoted as Exec and TryExec require. Throws LoginItemError
    // for a path that no entry can express: relative, not UTF-8, or holding control characters.
    static std::string entryText(const std::filesystem::path& executable);

private:
    std::filesystem::path executable;
    std::filesystem::path entryFile;
};

} // namespace kavrel
