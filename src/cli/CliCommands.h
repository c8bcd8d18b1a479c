#pragma once
// The subcommands of the command-line program. Each takes the words after
// its name, writes its result to standard output and returns the exit
// status; a failure is raised as ECliError (status 1) or EUsageError
// (status 2) and shown by the caller as one line on standard error.
#include "cli/CliCommon.h"

#include <string>
#include <vector>

namespace calvora::cli {

using TWords = std::vector<std::string>;

int SignInCommand(TCliContext& Context, const TWords& Words);
int SignOutCommand(TCliContext& Context, const TWords& Words);
int WhoAmICommand(TCliContext& Context, const TWords& Words);

int PlansListCommand(TCliContext& Context, const TWords& Words);
int PlansShowCommand(TCliContext& Context, const TWords& Words);
int PlansAddCommand(TCliContext& Context, const TWords& Words);
int PlansEditCommand(TCliContext& Context, const TWords& Words);
int PlansRemoveCommand(TCliContext& Context, const TWords& Words);
int PlansExportCommand(TCliContext& Context, const TWords& Words);
int PlansImportCommand(TCliContext& Context, const TWords& Words);

int RunCommand(TCliContext& Context, const TWords& Words);
int StatusCommand(TCliContext& Context, const TWords& Words);

int FilesCommand(TCliContext& Context, const TWords& Words);
int DownloadCommand(TCliContext& Context, const TWords& Words);
int RevisionsCommand(TCliContext& Context, const TWords& Words);
int DownloadRevisionCommand(TCliContext& Context, const TWords& Words);
int PinCommand(TCliContext& Context, const TWords& Words);
int UnpinCommand(TCliContext& Context, const TWords& Words);

int RestoreCommand(TCliContext& Context, const TWords& Words);

int SettingsShowCommand(TCliContext& Context, const TWords& Words);
int SettingsSetCommand(TCliContext& Context, const TWords& Words);
int TestConnectionCommand(TCliContext& Context, const TWords& Words);

int ServiceCommand(TCliContext& Context, const std::string& Operation, const TWords& Words);

}  // namespace calvora::cli
