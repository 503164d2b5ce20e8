#include "Platform/QtWorkspace.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

// Only the refusals: an accepted URL would start the desktop's browser.
TEST(QtWorkspace, RefusesWhatIsNotAWebPageWithoutStartingAnything) {
    QtWorkspace workspace;
    for (const char* url :
         {"", "not a url", "file:///etc/passwd", "javascript:alert(1)", "mailto:a@b.example",
          "x-kavrel://settings", "https://", "https://exa mple.com/"}) {
        EXPECT_FALSE(workspace.open(url)) << url;
    }
}

} // namespace
} // namespace kavrel
