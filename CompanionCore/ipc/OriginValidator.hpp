#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

// A service origin that passed validation: the text as typed and the parts read from it.
struct OriginURL {
    std::string absoluteString;
    std::string scheme;
    std::string host;
    std::optional<std::string> port;

    friend bool operator==(const OriginURL&, const OriginURL&) = default;
};

// Decides whether typed text is a bare HTTPS origin: scheme and host, optionally a port, nothing else.
namespace OriginValidator {

inline constexpr std::size_t maxBytes = 2048;

// Never trims, lower-cases or completes the text; an unacceptable origin gives none.
std::optional<OriginURL> validate(std::string_view text);

} // namespace OriginValidator
} // namespace kavrel
