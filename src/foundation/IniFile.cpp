#include "foundation/IniFile.h"

#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"

#include <algorithm>
#include <vector>

namespace calvora {
namespace {

// Lines as views into `text`; CR, LF and CR LF end a line. Found with
// memchr, so a file with a line of many megabytes costs little.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  size_t nextCr = text.find('\r'), nextLf = text.find('\n');
  while (start < text.size()) {
    if (nextCr != std::string_view::npos && nextCr < start) nextCr = text.find('\r', start);
    if (nextLf != std::string_view::npos && nextLf < start) nextLf = text.find('\n', start);
    const size_t end = std::min(nextCr, nextLf);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool IsHeader(std::string_view trimmed) {
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

std::string_view HeaderName(std::string_view trimmed) { return trimmed.substr(1, trimmed.size() - 2); }

bool IsKeyLine(std::string_view line, std::string_view key) {
  return line.size() > key.size() && line[key.size()] == '=' && SameText(line.substr(0, key.size()), key);
}

// The writer matches keys loosely, like the platform's profile writer:
// blanks around the name do not matter.
bool IsWriterKeyLine(std::string_view line, std::string_view key) {
  size_t eq = line.find('=');
  return eq != std::string_view::npos && SameText(TrimView(line.substr(0, eq)), key);
}

// A line the reader appends to the value above it.
bool IsContinuation(std::string_view line) {
  const std::string_view trimmed = TrimView(line);
  return !trimmed.empty() && !IsHeader(trimmed) && trimmed.find('=') == std::string_view::npos;
}

}  // namespace

std::string ReadIniRawValue(std::string_view fileText, std::string_view Section, std::string_view Key) {
  if (StartsWith(fileText, "\xEF\xBB\xBF")) fileText.remove_prefix(3);
  const std::vector<std::string_view> lines = SplitLines(fileText);
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view trimmed = TrimView(lines[i]);
    if (IsHeader(trimmed)) {
      inSection = SameText(HeaderName(trimmed), Section);
      continue;
    }
    if (!inSection || !IsKeyLine(lines[i], Key)) continue;
    std::string value(lines[i].substr(Key.size() + 1));
    for (size_t j = i + 1; j < lines.size() && IsContinuation(lines[j]); ++j) value += TrimView(lines[j]);
    return value;
  }
  return std::string();
}

std::string SetIniValue(std::string_view fileText, std::string_view Section, std::string_view Key,
                        std::string_view Value) {
  bool bom = StartsWith(fileText, "\xEF\xBB\xBF");
  if (bom) fileText.remove_prefix(3);
  const std::vector<std::string_view> views = SplitLines(fileText);
  std::vector<std::string> lines(views.begin(), views.end());
  // A line break inside the value would start lines of its own.
  std::string entry = std::string(Key) + "=";
  for (char c : Value)
    if (c != '\r' && c != '\n') entry += c;

  // The section is found exactly as the reader finds it (header text not
  // trimmed), so the reader always sees what is written here.
  long sectionStart = -1;
  size_t sectionEnd = lines.size();  // one past the section's last line
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view trimmed = TrimView(lines[i]);
    if (!IsHeader(trimmed)) continue;
    if (sectionStart >= 0) {
      sectionEnd = i;
      break;
    }
    if (SameText(HeaderName(trimmed), Section)) sectionStart = static_cast<long>(i);
  }

  if (sectionStart < 0) {
    lines.push_back("[" + std::string(Section) + "]");
    lines.push_back(entry);
  } else {
    size_t lastContent = static_cast<size_t>(sectionStart);
    bool replaced = false;
    for (size_t i = static_cast<size_t>(sectionStart) + 1; i < sectionEnd; ++i) {
      if (IsWriterKeyLine(lines[i], Key)) {
        lines[i] = entry;
        // The old value's continuation lines belong to it: left in place the
        // reader would glue them to the new value.
        size_t end = i + 1;
        while (end < sectionEnd && IsContinuation(lines[end])) ++end;
        lines.erase(lines.begin() + static_cast<long>(i) + 1, lines.begin() + static_cast<long>(end));
        replaced = true;
        break;
      }
      if (!IsBlank(lines[i])) lastContent = i;
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<long>(lastContent) + 1, entry);
  }

  std::string out = bom ? "\xEF\xBB\xBF" : "";
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

std::string ReadIniFileValue(const std::string& path, std::string_view Section, std::string_view Key) {
  if (!FileExists(path)) return std::string();
  return ReadIniRawValue(ReadTextFile(path), Section, Key);
}

void WriteIniFileValue(const std::string& path, std::string_view Section, std::string_view Key,
                       std::string_view Value) {
  std::string text = FileExists(path) ? ReadTextFile(path) : std::string();
  WriteTextFile(path, SetIniValue(text, Section, Key, Value), false);
}

}  // namespace calvora
