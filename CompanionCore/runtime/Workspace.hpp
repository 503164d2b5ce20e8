#pragma once

#include <string>

namespace kavrel {

// The desktop's way of showing web pages. Main thread only.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens the URL in the user's default browser. False when it was refused or nothing could open it.
    virtual bool open(const std::string& url) = 0;
};

} // namespace kavrel
