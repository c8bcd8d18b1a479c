#include "foundation/JsonText.h"

#include "foundation/TextUtil.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace calvora {
namespace {

void AppendEscape(std::string& out, unsigned code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
  out += buffer;
}

void WriteString(std::string& out, const std::string& raw) {
  const std::string text = SanitizeUtf8(raw);
  out += '"';
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      AppendEscape(out, c);
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      char32_t cp = 0;
      size_t len = DecodeUtf8At(text, i, cp);  // well-formed: the text was sanitized
      if (len == 0) len = 1;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        AppendEscape(out, 0xD800 + (cp >> 10));
        AppendEscape(out, 0xDC00 + (cp & 0x3FF));
      } else {
        AppendEscape(out, cp);
      }
      i += len;
    }
  }
  out += '"';
}

void Write(std::string& out, const TJson& value) {
  switch (value.type()) {
    case TJson::value_t::object: {
      out += '{';
      bool first = true;
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first) out += ',';
        first = false;
        WriteString(out, it.key());
        out += ':';
        Write(out, it.value());
      }
      out += '}';
      break;
    }
    case TJson::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& item : value) {
        if (!first) out += ',';
        first = false;
        Write(out, item);
      }
      out += ']';
      break;
    }
    case TJson::value_t::string:
      WriteString(out, value.get_ref<const std::string&>());
      break;
    default:
      out += value.dump();
      break;
  }
}

// Nesting beyond this is nobody's real data; writing it out recursively
// could exhaust the stack.
constexpr size_t kMaxTextDepth = 512;

bool NestedDeeperThan(const TJson& root, size_t limit) {
  std::vector<std::pair<const TJson*, size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) continue;
    if (depth > limit) return true;
    for (const auto& child : *node) pending.emplace_back(&child, depth + 1);
  }
  return false;
}

}  // namespace

std::string JsonToText(const TJson& value) {
  std::string out;
  Write(out, value);
  return out;
}

bool TryParseJson(std::string_view text, TJson& value) {
  // Thousands of nested brackets are no data of ours; refusing them up front
  // keeps a hostile file from costing hundreds of megabytes to reject.
  size_t depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxTextDepth) {
        value = nullptr;
        return false;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  value = TJson::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) {
    value = nullptr;
    return false;
  }
  return true;
}

std::string JsonValueText(const TJson& value) {
  switch (value.type()) {
    case TJson::value_t::string:
      return value.get_ref<const std::string&>();
    case TJson::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case TJson::value_t::null:
    case TJson::value_t::discarded:
      return std::string();
    case TJson::value_t::array:
    case TJson::value_t::object:
      if (NestedDeeperThan(value, kMaxTextDepth)) return std::string();
      return value.dump(-1, ' ', false, TJson::error_handler_t::replace);
    default:
      return value.dump();
  }
}

bool JsonHas(const TJson& object, std::string_view key) {
  return object.is_object() && object.find(key) != object.end();
}

std::string JsonMemberText(const TJson& object, std::string_view key) {
  if (!object.is_object()) return std::string();
  auto it = object.find(key);
  return it == object.end() ? std::string() : JsonValueText(*it);
}

bool JsonMemberBool(const TJson& object, std::string_view key) {
  return SameText(JsonMemberText(object, key), "true");
}

}  // namespace calvora
