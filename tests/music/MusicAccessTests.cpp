#include "CompanionCore/music/MusicAccess.hpp"
#include "CompanionCore/music/NativeMusicController.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace kavrel {
namespace {

// Provides only what every implementation must; everything else comes from the defaults.
class MinimalAccess final : public MusicAccess {
public:
    using MusicAccess::favorite;

    JSONObject snapshot() override { return {}; }
    bool favorite(const std::string&) override {
        ++reads;
        duringRead();
        return true;
    }
    bool setFavorite(const std::string&, bool desired, const Admission&) override { return desired; }

    std::function<void()> duringRead = [] {
    };
    int reads = 0;
};

std::string codeThrownBy(const std::function<void()>& action) {
    try {
        action();
    } catch (...) {
        return NativeMusicController::safeCode(std::current_exception());
    }
    return "";
}

TEST(MusicAccess, DefaultsNeedNothingBeyondTheRequiredOperations) {
    MinimalAccess access;
    EXPECT_NO_THROW(access.requestAuthorization());
    EXPECT_EQ(access.favoriteDiagnostics(), (JSONObject{{"stage", "not_observed"}}));
    EXPECT_EQ(access.artworkSnapshot(), std::nullopt);
}

TEST(MusicAccess, DefaultGuardedReadExpiresWhenAdmissionTurnsFalseBeforeOrDuringTheRead) {
    MinimalAccess access;
    bool admitted = true;
    const MusicAccess::Admission admission = [&] {
        return admitted;
    };

    EXPECT_TRUE(access.favorite("REF", admission));

    admitted = false;
    EXPECT_EQ(codeThrownBy([&] { access.favorite("REF", admission); }), "native_command_expired");
    EXPECT_EQ(access.reads, 1); // never read once withdrawn

    admitted = true;
    access.duringRead = [&] {
        admitted = false;
    };
    EXPECT_EQ(codeThrownBy([&] { access.favorite("REF", admission); }), "native_command_expired");
    EXPECT_EQ(access.reads, 2);
}

} // namespace
} // namespace kavrel
