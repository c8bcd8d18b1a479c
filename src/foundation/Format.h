#pragma once
// Type-safe formatting of the system's message patterns. Directives:
// "%s" text, "%d" integer, "%.1f" number with that many decimals, "%%";
// flags, width and precision are honoured. A directive whose argument is
// missing stays in the text as written; nothing here throws.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace calvora {

class FormatArg {
 public:
  FormatArg(const char* s) : value_(std::string(s ? s : "")) {}
  FormatArg(std::string s) : value_(std::move(s)) {}
  FormatArg(std::string_view s) : value_(std::string(s)) {}
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  FormatArg(T v) : value_(static_cast<std::int64_t>(v)) {}
  template <typename T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
  FormatArg(T v) : value_(static_cast<double>(v)) {}
  FormatArg(bool) = delete;

  const std::variant<std::string, std::int64_t, double>& Value() const { return value_; }

 private:
  std::variant<std::string, std::int64_t, double> value_;
};

std::string FormatText(std::string_view pattern, std::initializer_list<FormatArg> args);

template <typename... Args>
std::string Fmt(std::string_view pattern, const Args&... args) {
  return FormatText(pattern, {FormatArg(args)...});
}

}  // namespace calvora
