#pragma once
// What every subcommand of the command-line program shares: the context
// (console, the running system's environment, --json), the failure that
// ends a command with one line on standard error, finding a plan by ID or
// name, tables and JSON on standard output, secrets from a prompt or
// standard input.
#include "cli/CliArgs.h"
#include "cli/CliConsole.h"
#include "foundation/Env.h"
#include "foundation/JsonText.h"
#include "plans/uBackupPlans.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace calvora::cli {

inline constexpr const char kProgramName[] = "calvoractl";

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// A command that failed: its text is the one line on standard error.
class ECliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCliContext {
  TCliConsole& Console;
  // The running system; made on first use, so --help and --version touch
  // no data directory.
  std::function<TEnv&()> Env;
  bool Json = false;
};

// The options every subcommand takes besides its own.
std::vector<TOptionSpec> WithCommonOptions(std::vector<TOptionSpec> Options);
// Parses and takes --json into the context.
TCliArgs ParseCommand(TCliContext& Context, const std::vector<std::string>& Words,
                      const std::vector<TOptionSpec>& Options);
// Exactly Count positional words, else EUsageError naming the usage.
void RequirePositional(const TCliArgs& Args, size_t Min, size_t Max, const std::string& Usage);

// A plan by its ID (any case, braces optional) or its unique name (any
// case). ECliError "Plan bulunamadı: X" or for a name several plans carry.
TBackupPlan FindPlan(const std::vector<TBackupPlan>& Plans, const std::string& Reference);
TBackupPlan FindPlan(TEnv& Env, const std::string& Reference);

// A secret: the first line of standard input with --<stdinOption>, else
// asked without echo. ECliError when neither is possible.
std::string ReadSecret(TCliContext& Context, const TCliArgs& Args, const std::string& StdinOption,
                       const std::string& Prompt);

void PrintLine(TCliContext& Context, const std::string& Text);
void PrintJson(TCliContext& Context, const TJson& Value);
// Columns padded to their widest cell (counted in characters, not bytes).
void PrintTable(TCliContext& Context, const std::vector<std::string>& Headers,
                const std::vector<std::vector<std::string>>& Rows);
// "Alan: Deger" rows with the names aligned.
void PrintFields(TCliContext& Context, const std::vector<std::pair<std::string, std::string>>& Rows);

// Characters of UTF-8 text (code points).
size_t TextWidth(const std::string& Text);
// "512 B", "1.5 KB", "20.0 MB", "2.0 GB": the size text of the cloud windows.
std::string CloudSizeText(std::int64_t Bytes);
// "true"/"false", "yes"/"no", "1"/"0", "on"/"off", "evet"/"hayir".
bool ParseBoolText(const std::string& Text, bool& Value);
std::string BoolText(bool Value);

}  // namespace calvora::cli
