#include "cli/CliArgs.h"

#include <algorithm>

namespace calvora::cli {

TCliArgs TCliArgs::Parse(const std::vector<std::string>& Words, const std::vector<TOptionSpec>& Options) {
  TCliArgs args;
  bool optionsEnded = false;
  for (size_t i = 0; i < Words.size(); ++i) {
    const std::string& word = Words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      args.FPositional.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word[1] != '-') throw EUsageError("Bilinmeyen secenek: " + word);
    const size_t equals = word.find('=');
    const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const auto spec = std::find_if(Options.begin(), Options.end(), [&](const TOptionSpec& s) { return s.Name == name; });
    if (spec == Options.end()) throw EUsageError("Bilinmeyen secenek: --" + name);
    std::string value;
    switch (spec->Kind) {
      case TOptionKind::Flag:
        if (equals != std::string::npos) throw EUsageError("--" + name + " deger almaz.");
        value = "true";
        break;
      case TOptionKind::Switch:
        value = equals == std::string::npos ? "true" : word.substr(equals + 1);
        break;
      case TOptionKind::Value:
        if (equals != std::string::npos) {
          value = word.substr(equals + 1);
        } else {
          if (i + 1 >= Words.size()) throw EUsageError("--" + name + " icin deger eksik.");
          value = Words[++i];
        }
        break;
    }
    if (!spec->Repeatable && args.FValues.count(name) > 0) throw EUsageError("--" + name + " bir kez verilebilir.");
    args.FValues.emplace(name, value);
    args.FOrdered.emplace_back(name, value);
  }
  return args;
}

std::string TCliArgs::Value(const std::string& Name, const std::string& Default) const {
  std::string value = Default;
  const auto range = FValues.equal_range(Name);
  for (auto it = range.first; it != range.second; ++it) value = it->second;
  return value;
}

std::vector<std::string> TCliArgs::Values(const std::string& Name) const {
  std::vector<std::string> values;
  for (const auto& [name, value] : FOrdered)
    if (name == Name) values.push_back(value);
  return values;
}

}  // namespace calvora::cli
