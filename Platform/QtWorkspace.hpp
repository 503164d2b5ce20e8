#pragma once

#include "CompanionCore/runtime/Workspace.hpp"

namespace kavrel {

// Opens web pages with QDesktopServices, that is, with the desktop's handler for the URL (xdg-open
// or the portal). Only http and https URLs are passed on: the port promises a browser, and anything
// else (file:, a custom scheme) would start whatever program claims that scheme.
class QtWorkspace final : public Workspace {
public:
    bool open(const std::string& url) override;
};

} // namespace kavrel
