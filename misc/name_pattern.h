// Shell patterns for the names inside an image: '*' any run of characters,
// '?' one character, "[...]" one character of a set ("[abc]", ranges
// "[a-z]", "[!...]" or "[^...]" any character not in it; a ']' first in
// the set is one of its characters), and '\' the next character as it is.
// Letters match whatever their case (A-Z as a-z), as OS-9 compares names.
// A '[' without a closing ']' is a plain character.
#pragma once

#include <string>
#include <string_view>

namespace dv {

// Whether `name` holds '*', '?' or '[' that no backslash makes plain.
bool has_pattern(std::string_view name);

// `name` with each backslash taken away and the character after it kept
// (a backslash at the very end stays).
std::string unescaped(std::string_view name);

// Whether the whole of `name` matches `pattern`.  The work is bounded by
// the pattern's length times the name's: a mismatch goes back only to the
// last '*', never further.
bool name_matches(std::string_view pattern, std::string_view name);

}  // namespace dv
