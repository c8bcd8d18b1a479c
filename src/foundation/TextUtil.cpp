#include "foundation/TextUtil.h"

#include <charconv>
#include <climits>
#include <random>

namespace calvora {
namespace {

bool IsTrimmed(unsigned char c) { return c <= ' '; }

// Decodes one UTF-8 code point; returns its length, 0 when malformed.
size_t DecodeUtf8Impl(std::string_view s, size_t i, char32_t& cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  if (len == 1) {
    cp = c;
    return 1;
  }
  cp = c & (0xFF >> (len + 1));
  for (size_t k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  static const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void AppendUtf8Impl(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t FoldCodePoint(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 32;
  switch (cp) {
    case 0x130:  // İ
    case 0x131:  // ı
      return 'i';
    case 0x11E:  // Ğ
      return 0x11F;
    case 0x15E:  // Ş
      return 0x15F;
    default:
      break;
  }
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;  // Latin-1 capitals
  return cp;
}

}  // namespace

size_t DecodeUtf8At(std::string_view s, size_t i, char32_t& codePoint) { return DecodeUtf8Impl(s, i, codePoint); }
void AppendUtf8(std::string& out, char32_t codePoint) { AppendUtf8Impl(out, codePoint); }

std::string Trim(std::string_view s) {
  while (!s.empty() && IsTrimmed(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsTrimmed(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

std::string TrimLeft(std::string_view s) {
  while (!s.empty() && IsTrimmed(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  return std::string(s);
}

std::string TrimRight(std::string_view s) {
  while (!s.empty() && IsTrimmed(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

bool IsBlank(std::string_view s) { return Trim(s).empty(); }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8Impl(s, i, cp);
    if (len == 0) {  // keep stray bytes as they are
      out += s[i++];
      continue;
    }
    AppendUtf8Impl(out, FoldCodePoint(cp));
    i += len;
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

bool StartsText(std::string_view text, std::string_view prefix) {
  std::string t = FoldCase(text), p = FoldCase(prefix);
  return t.compare(0, p.size(), p) == 0 && t.size() >= p.size();
}

bool EndsText(std::string_view text, std::string_view suffix) {
  std::string t = FoldCase(text), s = FoldCase(suffix);
  return t.size() >= s.size() && t.compare(t.size() - s.size(), s.size(), s) == 0;
}

bool ContainsText(std::string_view text, std::string_view part) {
  return FoldCase(text).find(FoldCase(part)) != std::string::npos;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t hit = text.find(separator, start);
    parts.emplace_back(text.substr(start, hit == std::string_view::npos ? hit : hit - start));
    if (hit == std::string_view::npos) break;
    start = hit + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.append(separator);
    out.append(items[i]);
  }
  return out;
}

bool TryParseInt64(std::string_view text, long long& value) {
  std::string t = Trim(text);
  std::string_view s = t;
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;  // "+-5" is no number
  }
  if (s.empty()) return false;
  long long v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size()) return false;
  value = v;
  return true;
}

bool TryParseInt(std::string_view text, int& value) {
  long long v = 0;
  if (!TryParseInt64(text, v) || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8Impl(s, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string SanitizeUtf8(std::string_view s) {
  if (IsValidUtf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8Impl(s, i, cp);
    if (len == 0) {
      AppendUtf8Impl(out, 0xFFFD);
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::string RandomAlphaNumeric(size_t length) {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 rng{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
  std::string out(length, 'a');
  for (char& c : out) c = alphabet[pick(rng)];
  return out;
}

}  // namespace calvora
