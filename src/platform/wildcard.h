#pragma once
// Shell-style file-name masks, matched the way the system's own pattern
// matcher does.
#include <string_view>

namespace calvora::platform {

// "*" any run of characters (also none), "?" one character, "[set]" and
// "[!set]" with ranges; characters are UTF-8 code points, the backslash is an
// ordinary character, letters match regardless of case when `ignoreCase`.
// A malformed mask (a "[" without its closing "]") matches nothing.
bool WildcardMatch(std::string_view name, std::string_view mask, bool ignoreCase);

}  // namespace calvora::platform
