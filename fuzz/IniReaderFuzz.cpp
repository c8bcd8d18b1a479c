// The INI reader and the private-profile writer on any text: reading never
// fails, and the reader finds exactly the value the writer wrote.
#include "FuzzSupport.h"

#include "foundation/IniFile.h"

namespace {

// Section and key names as the programs use them: printable, without the
// characters the line rules give a meaning to.
bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (unsigned char c : name)
    if (c <= ' ' || c >= 127 || c == '=' || c == '[' || c == ']') return false;
  return true;
}

std::string WithoutLineBreaks(std::string text) {
  std::erase(text, '\r');
  std::erase(text, '\n');
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace calvora;
  const auto parts = fuzz::Parts(fuzz::Bytes(data, size), 4);
  const std::string &section = parts[0], &key = parts[1], &value = parts[2], &text = parts[3];
  ReadIniRawValue(text, "Google", "ClientID");
  ReadIniRawValue(text, "MSSQLBackup", "Password");
  ReadIniRawValue(text, section, key);
  if (!PlainName(section) || !PlainName(key)) return 0;
  const std::string written = SetIniValue(text, section, key, value);
  fuzz::Check(ReadIniRawValue(written, section, key) == WithoutLineBreaks(value),
              "the reader does not find the value the writer wrote");
  // Writing again changes nothing.
  fuzz::Check(SetIniValue(written, section, key, value) == written, "a second write changed the text");
  return 0;
}
