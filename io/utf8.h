#pragma once
// UTF-8 checks shared by the text readers and the crate reader's name tables.
// Sequences are judged strictly: overlong forms, surrogates and values above
// U+10FFFF are invalid.

#include <string>
#include <string_view>

namespace vorrel::io {

bool is_valid_utf8(std::string_view bytes);

// The text with every invalid sequence replaced by U+FFFD, one replacement per
// maximal invalid subpart.
std::string utf8_lossy(std::string_view bytes);

// The text without leading and trailing Unicode white space.
std::string_view trim_unicode_whitespace(std::string_view text);

}  // namespace vorrel::io
