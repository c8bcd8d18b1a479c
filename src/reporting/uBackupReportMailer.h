#pragma once
// The HTML report mail after every plan run. The programs do not speak SMTP
// themselves: they write the server settings and the message into JSON files
// in the private temporary folder and run the mail script
// ("sql/SendBackupReport.py" beside the programs, else its built-in copy),
// which sends the mail and writes a result file.
#include "account/uMailSettingsStore.h"
#include "foundation/DateTime.h"
#include "foundation/Env.h"
#include "plans/uBackupPlans.h"

#include <string>

namespace calvora {

// Sends the report of one run to the recipients its outcome calls for, with
// the effective mail settings, or logs why not. Never throws.
void SendBackupReport(TEnv& env, const TBackupPlan& Plan, bool Success, const std::string& ResultMessage,
                      TDateTime FinishedAt, TDateTime StartedAt, const std::string& BackupFile);
// The same with the settings given (already found complete enough to send).
void SendBackupReportWith(TEnv& env, const TSMTPReportConfig& Config, const TBackupPlan& Plan, bool Success,
                          const std::string& ResultMessage, TDateTime FinishedAt, TDateTime StartedAt,
                          const std::string& BackupFile);

// Both lists split at ";" and ",", trimmed, duplicates (ignoring case)
// dropped, the defaults first; joined with ";".
std::string BuildReportRecipients(const std::string& DefaultRecipients, const std::string& PlanRecipients);
// "[BAŞARILI] Brimora - <plan name>" or "[HATALI] Brimora - <plan name>".
std::string BuildReportSubject(const TBackupPlan& Plan, bool Success);
// The complete HTML document of the report.
std::string BuildReportHtml(const TBackupPlan& Plan, bool Success, const std::string& Message,
                            TDateTime FinishedAt, TDateTime StartedAt, const std::string& BackupFile);
// & < > " ' as entities, CR LF as "<br>".
std::string HtmlEncode(const std::string& Text);
// "dd.mm.yyyy hh:nn:ss", or "-" for 0.
std::string ReportDateText(TDateTime Value);
// "hh:nn:ss" with hours beyond 99 in full, or "-" when a moment is 0 or the
// start lies after the end.
std::string ReportDurationText(TDateTime FinishedAt, TDateTime StartedAt);

// The interpreter that runs the mail script: $CALVORA_PYTHON when set, else
// "python3" from PATH.
std::string FindScriptInterpreter();
// "sql/SendBackupReport.py" in the program folder, else in the current
// folder, else the built-in copy written (when missing or different) as
// "SendBackupReport.runtime.py" into the mail working folder.
std::string FindMailScript(TEnv& env);
// The built-in copy of the mail script (the same file, embedded at build time).
const std::string& BuiltInMailScript();
// "BrimoraMail" in the private temporary folder, made or checked as a
// private folder; throws EFileError when it is not one.
std::string MailWorkingFolder(TEnv& env);

}  // namespace calvora
