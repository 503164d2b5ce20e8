#pragma once

#include <string_view>

namespace kavrel {

// What users type may be wrapped in any Unicode white space or line break (a pasted U+00A0, an
// ideographic space, U+2028 from a rich-text source), not only ASCII blanks.
namespace UnicodeWhitespace {

// The text without leading and trailing code points of the Unicode White_Space class. Bytes that are
// not valid UTF-8 are kept as they are.
std::string_view trimmed(std::string_view text);

} // namespace UnicodeWhitespace

} // namespace kavrel
