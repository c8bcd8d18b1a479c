#include "platform/wildcard.h"

#include <fnmatch.h>
#include <locale.h>

#include <string>

namespace calvora::platform {
namespace {

// fnmatch treats an unterminated "[" as an ordinary character; a mask with
// one is refused instead.
bool BracketsClosed(std::string_view mask) {
  for (size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] != '[') continue;
    size_t j = i + 1;
    if (j < mask.size() && (mask[j] == '!' || mask[j] == '^')) ++j;
    if (j < mask.size() && mask[j] == ']') ++j;  // a leading "]" is a member
    while (j < mask.size() && mask[j] != ']') {
      if (mask[j] == '[' && j + 1 < mask.size() && (mask[j + 1] == ':' || mask[j + 1] == '=' || mask[j + 1] == '.')) {
        const char kind = mask[j + 1];
        size_t end = j + 2;
        while (end + 1 < mask.size() && !(mask[end] == kind && mask[end + 1] == ']')) ++end;
        if (end + 1 >= mask.size()) return false;
        j = end + 2;
        continue;
      }
      ++j;
    }
    if (j >= mask.size()) return false;
    i = j;
  }
  return true;
}

// Multibyte-aware matching needs a UTF-8 character type for the calling
// thread only; the process locale stays as it is.
locale_t Utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

int MatchIn(locale_t locale, const std::string& mask, const std::string& name, int flags) {
  locale_t previous = uselocale(locale);
  const int result = fnmatch(mask.c_str(), name.c_str(), flags);
  uselocale(previous);
  return result;
}

}  // namespace

bool WildcardMatch(std::string_view name, std::string_view mask, bool ignoreCase) {
  if (!BracketsClosed(mask)) return false;
  const std::string maskText(mask), nameText(name);
  const int flags = FNM_NOESCAPE | (ignoreCase ? FNM_CASEFOLD : 0);
  const locale_t utf8 = Utf8Locale();
  int result = utf8 != static_cast<locale_t>(nullptr) ? MatchIn(utf8, maskText, nameText, flags) : -1;
  // No UTF-8 support, or bytes that are not UTF-8: match byte by byte.
  if (result != 0 && result != FNM_NOMATCH) result = MatchIn(LC_GLOBAL_LOCALE, maskText, nameText, flags);
  return result == 0;
}

}  // namespace calvora::platform
