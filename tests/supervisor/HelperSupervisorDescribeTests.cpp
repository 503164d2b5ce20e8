#include "CompanionCore/supervisor/HelperSupervisor.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace kavrel {
namespace {

TEST(HelperSupervisorDescribe, MapsKnownCodesExactlyAndEverythingElseToTheGenericText) {
    const std::string generic =
        "The connector could not complete that request. Check your connection and try again.";
    const std::string invalid = "That pairing code is invalid or expired. Create a new code in Kavrel.";
    const std::string paired = "Already paired. Choose Replace pairing to change accounts.";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"migration_required",
         "This folder contains legacy connector settings. Use a fresh desktop state folder."},
        {"invalid_code", invalid},
        {"pairing_expired", invalid},
        {"already_paired", paired},
        {"replacement_required", paired},
        {"initialize_failed", generic},
        {"", generic},
        {"Invalid_code", generic},
        {"invalid_code ", generic},
        {"INVALID_CODE", generic},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(HelperSupervisor::describe(code), text) << '"' << code << '"';
    }
}

} // namespace
} // namespace kavrel
