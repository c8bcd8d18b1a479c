#pragma once
// INI text as the programs read and write it (config.ini, update_state.ini,
// deployment.ini).
#include <string>
#include <string_view>

namespace calvora {

// The raw value of Key in Section by the reader's line rules: section
// headers and keys compared ignoring case, "Key=" must start the untrimmed
// line, the value is the rest of the line untrimmed, following lines without
// "=" that are neither blank nor a header continue it. No comment syntax.
// Empty when not found.
std::string ReadIniRawValue(std::string_view fileText, std::string_view Section, std::string_view Key);

// The private-profile writer: replaces the key's line (and the lines the
// reader would take as its continuation) in its section, adds a missing key
// at the end of its section, a missing section at the end of the text. The
// section is matched as the reader matches it, so ReadIniRawValue always
// returns what was written. CR and LF are dropped from Value. Returns the new
// text; lines end in CR LF.
std::string SetIniValue(std::string_view fileText, std::string_view Section, std::string_view Key,
                        std::string_view Value);

// Reads the file (missing: empty result) / rewrites it atomically.
std::string ReadIniFileValue(const std::string& path, std::string_view Section, std::string_view Key);
void WriteIniFileValue(const std::string& path, std::string_view Section, std::string_view Key,
                       std::string_view Value);

}  // namespace calvora
