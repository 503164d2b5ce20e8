#pragma once

#include "CompanionCore/model/Clipboard.hpp"

namespace kavrel {

// The desktop clipboard through QGuiApplication::clipboard(); needs the application object.
class QtClipboard final : public Clipboard {
public:
    // Text is UTF-8. Whatever the clipboard held before, in every format, is dropped first.
    void setText(const std::string& text) override;
};

} // namespace kavrel
