#pragma once

#include <string>

namespace kavrel {

// The desktop's clipboard. Main thread only.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Replaces whatever the clipboard held with this plain text.
    virtual void setText(const std::string& text) = 0;
};

} // namespace kavrel
