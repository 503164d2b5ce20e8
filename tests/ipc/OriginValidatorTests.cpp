#include "CompanionCore/ipc/OriginValidator.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrel {
namespace {

// A bare HTTPS origin with an optional root path and port, of at most 2,048 bytes, comes back unchanged
// with its parts; anything else is refused, an empty but present part ("@", "?", "#") included.
TEST(OriginValidator, AcceptsOnlyABareHttpsOriginWithOptionalRootAndPortUpTo2048Bytes) {
    const std::string host2040(2040, 'a'); // 2,048 bytes with the scheme
    const std::vector<OriginURL> accepted{
        {"https://Kavrel.Example", "https", "Kavrel.Example", std::nullopt},
        {"https://kavrel.example/", "https", "kavrel.example", std::nullopt},
        {"https://kavrel.example:8443/", "https", "kavrel.example", "8443"},
        {"https://[::1]:8443", "https", "::1", "8443"},
        {"https://127.0.0.1", "https", "127.0.0.1", std::nullopt},
        {"https://" + host2040, "https", host2040, std::nullopt}};
    for (const auto& origin : accepted) {
        EXPECT_EQ(OriginValidator::validate(origin.absoluteString), origin);
    }
    // clang-format off
    const std::vector<std::string> refused{
        "http://kavrel.example", "HTTPS://kavrel.example", "Https://kavrel.example", "kavrel.example",
        "//kavrel.example", "https://", "https:", "https:///", "https://:443",
        "https://user@kavrel.example", "https://@kavrel.example", "https://kavrel.example?x=1",
        "https://kavrel.example?", "https://kavrel.example/?", "https://kavrel.example#",
        "https://kavrel.example/#top", "https://kavrel.example/app", "https://kavrel.example//",
        "https://kavrel.example/app/", "", " ", "https://kavrel .example", " https://kavrel.example",
        "https://kavrel.example ", std::string("https://kavrel.example\0", 23), "https://a" + host2040};
    // clang-format on
    for (const auto& origin : refused) {
        EXPECT_FALSE(OriginValidator::validate(origin).has_value()) << '"' << origin << '"';
    }
}

} // namespace
} // namespace kavrel
