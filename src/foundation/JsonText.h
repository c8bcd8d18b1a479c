#pragma once
// JSON as the system writes and reads it: members keep their order, output
// is compact with every character below 32 or above 127 as a \u escape
// (surrogate pairs above U+FFFF), and reading never throws.
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace calvora {

using TJson = nlohmann::ordered_json;

std::string JsonToText(const TJson& value);
// False (and `value` null) for text that is not one JSON value, and for
// JSON nested more than 512 levels deep.
bool TryParseJson(std::string_view text, TJson& value);

// A member's "text value": a string as it is, true/false as "true"/"false",
// a number as its digits, null or missing as "", anything else as its JSON
// ("" when nested beyond any real data).
std::string JsonValueText(const TJson& value);
// The member `key` of an object as text; "" when absent, null, or `object`
// is not an object.
std::string JsonMemberText(const TJson& object, std::string_view key);
// True when the member's text value equals "true" ignoring case.
bool JsonMemberBool(const TJson& object, std::string_view key);
bool JsonHas(const TJson& object, std::string_view key);

}  // namespace calvora
