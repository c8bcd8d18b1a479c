#include "foundation/Format.h"

#include <algorithm>
#include <cstdio>

namespace calvora {
namespace {

constexpr int kMaxWidth = 1000;

struct Directive {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = -1;
  int precision = -1;
  char type = 0;
};

std::string Pad(std::string text, const Directive& directive) {
  if (directive.width < 0 || static_cast<int>(text.size()) >= directive.width) return text;
  size_t fill = static_cast<size_t>(directive.width) - text.size();
  if (directive.leftAlign) return text + std::string(fill, ' ');
  if (directive.zeroPad && directive.type != 's') {
    size_t signPos = (!text.empty() && text[0] == '-') ? 1 : 0;
    return text.insert(signPos, std::string(fill, '0'));
  }
  return std::string(fill, ' ') + text;
}

// "%.2d" of 5 is "05": the precision of an integer is its least digit count.
std::string WithMinimumDigits(std::int64_t value, int precision) {
  std::string digits = std::to_string(value < 0 ? -(value + 1) + 1ULL : static_cast<unsigned long long>(value));
  if (precision > 0 && static_cast<int>(digits.size()) < precision)
    digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

std::string AsText(const FormatArg& arg) {
  const auto& v = arg.Value();
  if (auto s = std::get_if<std::string>(&v)) return *s;
  if (auto i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", std::get<double>(v));
  return buffer;
}

std::string Render(const FormatArg& arg, const Directive& directive) {
  const auto& v = arg.Value();
  char buffer[128];
  switch (directive.type) {
    case 'd':
    case 'u':
      if (auto i = std::get_if<std::int64_t>(&v)) return Pad(WithMinimumDigits(*i, directive.precision), directive);
      if (auto d = std::get_if<double>(&v)) {
        // Only a number that fits has a whole-number form; others print as such.
        if (*d > -9.2e18 && *d < 9.2e18)
          return Pad(WithMinimumDigits(static_cast<std::int64_t>(*d), directive.precision), directive);
        return Pad(AsText(arg), directive);
      }
      return Pad(AsText(arg), directive);
    case 'x':
    case 'X':
      if (auto i = std::get_if<std::int64_t>(&v)) {
        std::snprintf(buffer, sizeof buffer, directive.type == 'x' ? "%llx" : "%llX",
                      static_cast<unsigned long long>(*i));
        return Pad(buffer, directive);
      }
      return Pad(AsText(arg), directive);
    case 'f':
    case 'e':
    case 'g': {
      double d = 0;
      if (auto i = std::get_if<std::int64_t>(&v)) d = static_cast<double>(*i);
      else if (auto f = std::get_if<double>(&v)) d = *f;
      else return Pad(AsText(arg), directive);
      char pattern[16];
      std::snprintf(pattern, sizeof pattern, "%%.%d%c", directive.precision < 0 ? 6 : directive.precision, directive.type);
      // Large numbers in "%f" need more room than a fixed buffer.
      int needed = std::snprintf(nullptr, 0, pattern, d);
      if (needed < 0) return Pad(AsText(arg), directive);
      std::string out(static_cast<size_t>(needed) + 1, '\0');
      std::snprintf(out.data(), out.size(), pattern, d);
      out.resize(static_cast<size_t>(needed));
      return Pad(out, directive);
    }
    default: {  // 's'
      std::string text = AsText(arg);
      if (directive.precision >= 0 && static_cast<int>(text.size()) > directive.precision)
        text.resize(static_cast<size_t>(directive.precision));
      return Pad(text, directive);
    }
  }
}

}  // namespace

std::string FormatText(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    Directive directive;
    for (; j < pattern.size() && (pattern[j] == '-' || pattern[j] == '0'); ++j)
      (pattern[j] == '-' ? directive.leftAlign : directive.zeroPad) = true;
    for (; j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9'; ++j)
      directive.width = std::min((directive.width < 0 ? 0 : directive.width * 10) + (pattern[j] - '0'), kMaxWidth);
    if (j < pattern.size() && pattern[j] == '.') {
      directive.precision = 0;
      for (++j; j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9'; ++j)
        directive.precision = std::min(directive.precision * 10 + (pattern[j] - '0'), kMaxWidth);
    }
    // Length modifiers ("%ld", "%lld", "%zu") change nothing for typed arguments.
    while (j < pattern.size() && (pattern[j] == 'l' || pattern[j] == 'h' || pattern[j] == 'z')) ++j;
    if (j >= pattern.size() || std::string_view("sduxXfeg").find(pattern[j]) == std::string_view::npos ||
        next == args.end()) {
      out += c;  // not a directive we can fill: keep the text
      continue;
    }
    directive.type = pattern[j];
    out += Render(*next++, directive);
    i = j;
  }
  return out;
}

}  // namespace calvora
