#include "cli/CliProgram.h"

#include "cli/CliCommands.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "service/uAppUpdater.h"

#include <algorithm>
#include <exception>

namespace calvora::cli {
namespace {

using THandler = std::function<int(TCliContext&, const TWords&)>;

struct TCommand {
  std::string Path;     // "plans add"
  std::string Summary;  // one line for the overview
  std::string Help;     // the command's own --help
  THandler Run;
};

constexpr const char kCommonHelp[] =
    "\nCommon options:\n"
    "  --json       print the result as one JSON document\n"
    "  -h, --help   show this help\n";

constexpr const char kPlanFieldHelp[] =
    "\nPlan fields (as --FIELD VALUE or --set FIELD=VALUE; names as in the plan file, any case):\n"
    "  --name, --description, --enabled[=BOOL], --backup-type|--type sql|folder|firebird,\n"
    "  --database-name|--database, --source-folder, --temp-directory,\n"
    "  --drive-sub-folder|--drive-folder, --auto-run[=BOOL], --schedule-type periodic|daily|weekly,\n"
    "  --schedule-time HH:MM, --weekly-days 1,2,...(1=Sunday), --interval-minutes N,\n"
    "  --run-on-service-start[=BOOL], --use-compression[=BOOL], --use-rar-encryption[=BOOL],\n"
    "  --rar-split-volume-mb N, --report-email-addresses, --delete-local-after-upload[=BOOL],\n"
    "  --local-backup-retention-days N, --upload-retry-count N, --cleanup-failed-files[=BOOL],\n"
    "  --failed-file-retention-hours N, --enable-differential[=BOOL], --full-backup-interval-minutes N\n"
    "  --rar-password           ask for the archive password (no echo)\n"
    "  --rar-password-stdin     read the archive password from standard input\n";

std::vector<TCommand> Commands() {
  auto service = [](const std::string& op) {
    return [op](TCliContext& c, const TWords& w) { return ServiceCommand(c, op, w); };
  };
  return {
      {"signin", "sign in to the account (saved for the service)",
       "Usage: calvoractl signin [LOGIN] [--password-stdin]\n\n"
       "Checks the login name or e-mail and the password against the account directory, saves the\n"
       "sign-in for the service and fetches the account's Google Drive token. The password is asked\n"
       "without echo, or read from the first line of standard input with --password-stdin.\n",
       SignInCommand},
      {"signout", "remove the saved sign-in", "Usage: calvoractl signout\n\nRemoves the saved sign-in.\n",
       SignOutCommand},
      {"whoami", "the signed-in account and its Drive quota use",
       "Usage: calvoractl whoami\n\nShows the saved account, its display name and its Drive quota use.\n",
       WhoAmICommand},
      {"plans list", "list the backup plans", "Usage: calvoractl plans list\n", PlansListCommand},
      {"plans show", "show every field of a plan",
       "Usage: calvoractl plans show PLAN\n\nPLAN is a plan ID or a unique plan name.\n", PlansShowCommand},
      {"plans add", "create a plan",
       std::string("Usage: calvoractl plans add [--FIELD VALUE...] [--set FIELD=VALUE...] [--from-json FILE|-]\n\n"
                   "Starts from the desktop's new-plan values (or the plan object in FILE), applies the\n"
                   "options in order and saves the plan after the task editor's checks.\n") +
           kPlanFieldHelp,
       PlansAddCommand},
      {"plans edit", "change fields of a plan",
       std::string("Usage: calvoractl plans edit PLAN --set FIELD=VALUE... [--FIELD VALUE...]\n\n"
                   "Changes the given fields; what the service recorded about the plan's runs is kept.\n") +
           kPlanFieldHelp,
       PlansEditCommand},
      {"plans remove", "delete a plan", "Usage: calvoractl plans remove PLAN\n", PlansRemoveCommand},
      {"plans export", "write plans as JSON",
       "Usage: calvoractl plans export [PLAN...] [--to FILE]\n\n"
       "Writes the plans (all, or those named) as a JSON array to standard output or to a new FILE\n"
       "(never over an existing one). Archive passwords and run results are not exported.\n",
       PlansExportCommand},
      {"plans import", "add or replace plans from JSON",
       "Usage: calvoractl plans import FILE|-\n\n"
       "Reads a JSON array of plans (or one plan object). A plan whose ID is already stored replaces\n"
       "it, keeping its run results; the others are added. Nothing is saved unless every plan passes\n"
       "the checks.\n",
       PlansImportCommand},
      {"run", "run a plan now, with progress",
       "Usage: calvoractl run PLAN\n\n"
       "Runs the plan now, as the desktop's Start button does. On a terminal a progress bar shows the\n"
       "stage, bytes, rate and time left; otherwise one line per stage. Ctrl-C stops the run: it is\n"
       "recorded as failed and the program exits with status 130.\n",
       RunCommand},
      {"status", "service state and the plans' last runs",
       "Usage: calvoractl status [PLAN]\n\n"
       "Shows the service state and each plan's state, last run, outcome and message; with PLAN the\n"
       "monitor's details and recent events of that plan.\n",
       StatusCommand},
      {"files", "list a plan's backups on Drive", "Usage: calvoractl files PLAN\n", FilesCommand},
      {"download", "download backups of a plan",
       "Usage: calvoractl download PLAN [FILE...|--all] --to DIR\n\n"
       "Downloads the named files (by path, name or ID as 'files' lists them) or all of them into\n"
       "DIR. Files land directly in DIR; an existing file is never replaced: the download takes the\n"
       "next free name (name_1.ext, ...).\n",
       DownloadCommand},
      {"revisions", "list the revisions of a backup file", "Usage: calvoractl revisions PLAN FILE\n",
       RevisionsCommand},
      {"download-revision", "download one revision of a file",
       "Usage: calvoractl download-revision PLAN FILE REVISION --to DIR\n\n"
       "REVISION is a revision ID or its number (#) in 'revisions'. The file is saved in DIR as\n"
       "name_rev_YYYYMMDD_HHMMSS.ext, never over an existing file.\n",
       DownloadRevisionCommand},
      {"pin", "keep a revision forever", "Usage: calvoractl pin PLAN FILE REVISION\n", PinCommand},
      {"unpin", "let Drive remove a revision again", "Usage: calvoractl unpin PLAN FILE REVISION\n", UnpinCommand},
      {"restore", "bring a backup back from Drive",
       "Usage: calvoractl restore PLAN [--file NAME] [--revision ID] [--folder SUB] --to PATH\n"
       "                          [--database NAME] [--data-folder DIR] [--log-folder DIR]\n"
       "                          [--replace] [--password-stdin]\n\n"
       "Firebird plans: restores the backup (the newest, or --file) into the new database file PATH.\n"
       "SQL Server plans: restores into --database (the original name when absent); a differential\n"
       "backup is restored on top of its full backup. Folder plans: the whole tree, one sub-folder\n"
       "(--folder) or one file (--file, at --revision) into the folder PATH. Nothing existing is\n"
       "replaced without --replace. An encrypted archive's password is asked without echo unless this\n"
       "machine holds the plan, or read from standard input with --password-stdin.\n",
       RestoreCommand},
      {"settings show", "the SQL Server and Firebird connection settings",
       "Usage: calvoractl settings show [sql|firebird]\n\nPasswords are never shown, only whether one is set.\n",
       SettingsShowCommand},
      {"settings set", "change the SQL Server or Firebird connection settings",
       "Usage: calvoractl settings set sql [--enabled[=BOOL]] [--server S] [--user U] [--backup-dir D]\n"
       "                                [--password|--password-stdin]\n"
       "       calvoractl settings set firebird [--enabled[=BOOL]] [--server S] [--port N] [--user U]\n"
       "                                [--gbak PATH] [--backup-dir D] [--password|--password-stdin]\n\n"
       "--password asks without echo; --password-stdin reads the first line of standard input.\n",
       SettingsSetCommand},
      {"test-connection", "test the SQL Server or Firebird connection",
       "Usage: calvoractl test-connection sql|firebird\n", TestConnectionCommand},
      {"service install", "register the backup service with systemd", "Usage: calvoractl service install\n",
       service("install")},
      {"service uninstall", "remove the backup service", "Usage: calvoractl service uninstall\n",
       service("uninstall")},
      {"service start", "start the backup service", "Usage: calvoractl service start\n", service("start")},
      {"service stop", "stop the backup service", "Usage: calvoractl service stop\n", service("stop")},
      {"service status", "the backup service's state", "Usage: calvoractl service status\n", service("status")},
  };
}

std::string Overview(const std::vector<TCommand>& Commands, const std::string& Group) {
  std::string text = Group.empty() ? "Usage: calvoractl [--version] [--help] COMMAND [ARGS...]\n\n"
                                     "Controls the Calvora backup agent on this machine.\n\nCommands:\n"
                                   : "Usage: calvoractl " + Group + " COMMAND [ARGS...]\n\nCommands:\n";
  size_t width = 0;
  for (const TCommand& c : Commands)
    if (Group.empty() || StartsWith(c.Path, Group + " ")) width = std::max(width, c.Path.size());
  for (const TCommand& c : Commands)
    if (Group.empty() || StartsWith(c.Path, Group + " "))
      text += "  " + c.Path + std::string(width - c.Path.size() + 2, ' ') + c.Summary + "\n";
  text += "\nRun 'calvoractl COMMAND --help' for a command's options. Exit status: 0 success, 1 failure,\n"
          "2 wrong usage, 130 run stopped with Ctrl-C.\n";
  return text;
}

bool AsksForHelp(const TWords& Words) {
  for (const std::string& word : Words) {
    if (word == "--") return false;
    if (word == "--help" || word == "-h") return true;
  }
  return false;
}

int Fail(TCliConsole& Console, const std::string& Message, int Status) {
  // One line: a message with line breaks would read as several.
  std::string line = ReplaceAll(ReplaceAll(Trim(Message), "\r\n", " "), "\n", " ");
  Console.Err(std::string(kProgramName) + ": " + line + "\n");
  return Status;
}

}  // namespace

int RunCalvoraCtl(const std::vector<std::string>& Arguments, TCliConsole& Console,
                  const std::function<TEnv&()>& MakeEnv) {
  const std::vector<TCommand> commands = Commands();
  if (Arguments.empty()) {
    Console.Err(Overview(commands, ""));
    return kExitUsage;
  }
  const std::string first = Arguments[0];
  if (first == "--version") {
    Console.Out(std::string(kProgramName) + " " + GetCurrentVersionText() + "\n");
    return kExitSuccess;
  }
  if (first == "--help" || first == "-h" || first == "help") {
    Console.Out(Overview(commands, ""));
    return kExitSuccess;
  }

  // The longest command path the words start with: "plans add" before "plans".
  const TCommand* command = nullptr;
  size_t used = 0;
  for (const TCommand& c : commands) {
    const std::vector<std::string> path = Split(c.Path, ' ');
    if (path.size() > Arguments.size() || path.size() <= used) continue;
    if (std::equal(path.begin(), path.end(), Arguments.begin())) {
      command = &c;
      used = path.size();
    }
  }
  if (!command) {
    const bool group = std::any_of(commands.begin(), commands.end(),
                                   [&](const TCommand& c) { return StartsWith(c.Path, first + " "); });
    if (group) {
      if (Arguments.size() == 1 || AsksForHelp({Arguments[1]})) {
        (Arguments.size() == 1 ? Console.Err(Overview(commands, first)) : Console.Out(Overview(commands, first)));
        return Arguments.size() == 1 ? kExitUsage : kExitSuccess;
      }
      return Fail(Console, "Bilinmeyen komut: " + first + " " + Arguments[1] + " (calvoractl " + first + " --help)",
                  kExitUsage);
    }
    return Fail(Console, "Bilinmeyen komut: " + first + " (calvoractl --help)", kExitUsage);
  }
  const TWords words(Arguments.begin() + static_cast<std::ptrdiff_t>(used), Arguments.end());
  if (AsksForHelp(words)) {
    Console.Out(command->Help + kCommonHelp);
    return kExitSuccess;
  }

  bool logStarted = false;
  TCliContext context{Console, [&]() -> TEnv& {
                        TEnv& env = MakeEnv();
                        if (!logStarted) {
                          logStarted = true;
                          InitLog(env.DataDir());
                        }
                        return env;
                      }};
  try {
    return command->Run(context, words);
  } catch (const EUsageError& e) {
    return Fail(Console, std::string(e.what()) + " (calvoractl " + command->Path + " --help)", kExitUsage);
  } catch (const std::exception& e) {
    return Fail(Console, *e.what() ? e.what() : "Beklenmeyen hata", kExitFailure);
  }
}

int CalvoraCtlMain(int argc, char** argv) {
  TStdConsole console;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return RunCalvoraCtl(arguments, console, []() -> TEnv& { return TEnv::Process(); });
}

}  // namespace calvora::cli
