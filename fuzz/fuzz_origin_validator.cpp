// Any text goes to the origin validator. It must never crash, and what it accepts must be a bare
// HTTPS origin by checks that do not use its URL parser: the text unchanged, "https://", an
// authority without user information, at most one trailing "/", no query and no fragment. What it
// accepts must stay accepted with one trailing "/", and become refused with anything after it.

#include "CompanionCore/ipc/OriginValidator.hpp"
#include "fuzz/FuzzInvariant.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace kavrel;

bool isDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void checkAccepted(std::string_view text, const OriginURL& url) {
    constexpr std::string_view prefix = "https://";
    require(text.size() <= OriginValidator::maxBytes, "accepted text over the size limit");
    require(url.absoluteString == text, "the accepted text was changed");
    require(url.scheme == "https", "accepted scheme is not https");
    require(!url.host.empty(), "accepted origin has no host");
    require(text.substr(0, prefix.size()) == prefix, "accepted text does not begin with https://");
    std::string_view authority = text.substr(prefix.size());
    if (!authority.empty() && authority.back() == '/') {
        authority.remove_suffix(1);
    }
    require(authority.find('/') == std::string_view::npos, "accepted origin has a path");
    require(text.find_first_of("?#") == std::string_view::npos, "accepted origin has a query or fragment");
    require(authority.find('@') == std::string_view::npos, "accepted origin has user information");
    require(authority.find(url.host) != std::string_view::npos, "accepted host is not part of the text");
    require(std::none_of(text.begin(), text.end(),
                         [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; }),
            "accepted text holds a space or a control character");
    if (url.port) {
        require(isDigits(*url.port), "accepted port is not a number");
        require(authority.size() >= url.port->size() + 1 &&
                    authority.substr(authority.size() - url.port->size() - 1) == ":" + *url.port,
                "accepted port does not end the authority");
    }
}

void checkExtensions(const std::string& text) {
    if (text.back() != '/' && text.size() < OriginValidator::maxBytes) {
        require(OriginValidator::validate(text + "/").has_value(), "a trailing / made an origin invalid");
    }
    const std::string root = text.back() == '/' ? text : text + "/";
    for (const char* tail : {"x", "/", "?", "#", "?a=b", "#top"}) {
        if (root.size() + std::string_view(tail).size() <= OriginValidator::maxBytes) {
            require(!OriginValidator::validate(root + tail).has_value(),
                    "an origin with a path, query or fragment was accepted");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto url = OriginValidator::validate(text);
    if (text.size() > OriginValidator::maxBytes) {
        require(!url, "a text over the size limit was accepted");
        return 0;
    }
    if (!url) {
        return 0;
    }
    checkAccepted(text, *url);
    checkExtensions(text);
    require(OriginValidator::validate(url->absoluteString) == url, "validation is not repeatable");
    return 0;
}
