#pragma once

#include <string>

namespace kavrel {

class Workspace;

// The service's pages that the companion opens in the browser.
namespace ServiceLinks {

// The typed origin when it is a valid HTTPS origin; otherwise nothing opens and nothing is said.
void openKavrel(const std::string& typedOrigin, Workspace& workspace);
// Always the default origin's downloads page, never the typed origin's.
void openDownloads(Workspace& workspace);
std::string downloadsPage();

} // namespace ServiceLinks

} // namespace kavrel
