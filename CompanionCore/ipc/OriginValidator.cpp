#include "CompanionCore/ipc/OriginValidator.hpp"

#include <uriparser/Uri.h>

namespace kavrel::OriginValidator {
namespace {

bool present(const UriTextRangeA& range) {
    return range.first != nullptr;
}

std::string text(const UriTextRangeA& range) {
    if (range.first == nullptr) {
        return {};
    }
    return std::string(range.first, range.afterLast);
}

// Frees the parser's members whatever path validation leaves by.
struct ParsedURI {
    UriUriA uri{};
    ~ParsedURI() { uriFreeUriMembersA(&uri); }
};

// The path of an authority-based URI is "" when it has no segment and "/" when it has one empty one.
bool pathIsEmptyOrRoot(const UriUriA& uri) {
    const UriPathSegmentA* head = uri.pathHead;
    if (head == nullptr) {
        return true;
    }
    return head->next == nullptr && head->text.first == head->text.afterLast;
}

} // namespace

std::optional<OriginURL> validate(std::string_view origin) {
    if (origin.size() > maxBytes) {
        return std::nullopt;
    }
    // uriparser reads up to afterLast, so the text needs no terminator and may hold any byte.
    ParsedURI parsed;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriExA(&parsed.uri, origin.data(), origin.data() + origin.size(), &errorPosition) !=
        URI_SUCCESS) {
        return std::nullopt;
    }
    const UriUriA& uri = parsed.uri;
    if (text(uri.scheme) != "https") {
        return std::nullopt;
    }
    if (!present(uri.hostText) || uri.hostText.first == uri.hostText.afterLast) {
        return std::nullopt;
    }
    // A component that is present but empty ("@", "?", "#") is refused as well.
    if (present(uri.userInfo) || present(uri.query) || present(uri.fragment)) {
        return std::nullopt;
    }
    if (!pathIsEmptyOrRoot(uri)) {
        return std::nullopt;
    }
    OriginURL url{std::string(origin), text(uri.scheme), text(uri.hostText), std::nullopt};
    if (present(uri.portText)) {
        url.port = text(uri.portText);
    }
    return url;
}

} // namespace kavrel::OriginValidator
