#pragma once
// Command-line arguments of one subcommand: positional words and options
// ("--name value", "--name=value", flags), checked against the options the
// subcommand knows.
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace calvora::cli {

// A mistake in the command line itself: exit status 2.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TOptionKind {
  Flag,       // "--x" only
  Value,      // "--x VALUE" or "--x=VALUE"
  Switch,     // "--x" (true) or "--x=VALUE"
};

struct TOptionSpec {
  std::string Name;  // without the dashes
  TOptionKind Kind = TOptionKind::Flag;
  bool Repeatable = false;
};

class TCliArgs {
 public:
  // Throws EUsageError for an unknown option, a missing value or a second
  // use of an option that is not repeatable. "--" ends the options.
  static TCliArgs Parse(const std::vector<std::string>& Words, const std::vector<TOptionSpec>& Options);

  const std::vector<std::string>& Positional() const { return FPositional; }
  bool Has(const std::string& Name) const { return FValues.count(Name) > 0; }
  // The (last) value; Default when the option is absent.
  std::string Value(const std::string& Name, const std::string& Default = "") const;
  std::vector<std::string> Values(const std::string& Name) const;
  // Options in the order given, for those that apply in order.
  const std::vector<std::pair<std::string, std::string>>& Ordered() const { return FOrdered; }

 private:
  std::vector<std::string> FPositional;
  std::multimap<std::string, std::string> FValues;
  std::vector<std::pair<std::string, std::string>> FOrdered;
};

}  // namespace calvora::cli
