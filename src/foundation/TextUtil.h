#pragma once
// Text helpers shared by every subsystem. Texts are UTF-8.
#include <string>
#include <string_view>
#include <vector>

namespace calvora {

// Removes white space and control characters (<= U+0020) at both ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
bool IsBlank(std::string_view s);

std::string LowerAscii(std::string_view s);
std::string UpperAscii(std::string_view s);

// Case folding for comparisons: ASCII and Latin letters, and the Turkish
// letters (I, İ, ı and i all fold to i; Ç Ğ Ö Ş Ü to their small forms).
std::string FoldCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view text, std::string_view prefix);
bool EndsText(std::string_view text, std::string_view suffix);
bool ContainsText(std::string_view text, std::string_view part);

bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
std::vector<std::string> Split(std::string_view text, char separator);
std::string Join(const std::vector<std::string>& items, std::string_view separator);

// Decimal integer with optional sign and surrounding blanks; false otherwise.
bool TryParseInt64(std::string_view text, long long& value);
bool TryParseInt(std::string_view text, int& value);

bool IsValidUtf8(std::string_view s);
// The well-formed UTF-8 sequence at byte `i`: its length and code point;
// 0 for a stray or malformed byte.
size_t DecodeUtf8At(std::string_view s, size_t i, char32_t& codePoint);
void AppendUtf8(std::string& out, char32_t codePoint);
// Invalid sequences become U+FFFD, so the text can be written as JSON.
std::string SanitizeUtf8(std::string_view s);

// Random letters and digits (file names of script runs and copies).
std::string RandomAlphaNumeric(size_t length);

}  // namespace calvora
