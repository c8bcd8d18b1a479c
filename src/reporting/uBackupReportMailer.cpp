#include "reporting/uBackupReportMailer.h"

#include "foundation/AppError.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/PrivateTemp.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/private_folder.h"
#include "platform/process.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace calvora {
namespace {

// The mail script's bytes, generated from sql/SendBackupReport.py.
#include "SendBackupReportScript.inc"

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr char kScriptRelativePath[] = "sql/SendBackupReport.py";
constexpr char kRuntimeScriptName[] = "SendBackupReport.runtime.py";

struct TStatusLook {
  const char* word;
  const char* color;
  const char* symbol;
};

TStatusLook StatusLook(bool success) {
  return success ? TStatusLook{"Basarili", "#16a34a", "&#10003;"} : TStatusLook{"Basarisiz", "#dc2626", "&#10007;"};
}

void AddRecipients(const std::string& text, std::vector<std::string>& list) {
  const std::string unified = ReplaceAll(Trim(text), ",", ";");
  for (const std::string& piece : Split(unified, ';')) {
    const std::string address = Trim(piece);
    if (address.empty()) continue;
    bool known = false;
    for (const std::string& present : list) known = known || SameText(present, address);
    if (!known) list.push_back(address);
  }
}

std::string EncodedOrDash(const std::string& text) { return text.empty() ? "-" : HtmlEncode(text); }

std::string DetailRow(const char* label, const std::string& value) {
  return std::string(
             "<tr><td style=\"width:180px;padding:10px;background:#f8fafc;border:1px solid #e5edf3;"
             "font-weight:bold;\">") +
         label + "</td><td style=\"padding:10px;border:1px solid #e5edf3;\">" + value + "</td></tr>";
}

std::string HeaderCell(const char* caption) {
  return std::string("<th align=\"left\" style=\"padding:11px;border:1px solid #d7e8f1;text-align:left;\">") +
         caption + "</th>";
}

std::string DataCell(const std::string& value, const std::string& extraStyle = std::string()) {
  return "<td style=\"padding:12px;border:1px solid #e5edf3;" + extraStyle + "\">" + value + "</td>";
}

TJson ServerSettingsJson(const TSMTPReportConfig& config) {
  TJson json = TJson::object();
  json["host"] = config.Host;
  json["port"] = config.Port;
  json["useSSL"] = config.UseSSL;
  json["userName"] = config.UserName;
  json["password"] = config.Password;
  json["fromAddress"] = config.FromAddress;
  json["fromName"] = config.FromName;
  json["toAddresses"] = config.ToAddresses;
  json["popBeforeSmtp"] = config.PopBeforeSmtp;
  json["pop3Host"] = config.Pop3Host;
  json["pop3Port"] = config.Pop3Port;
  return json;
}

// The files carry the SMTP password: owner-only, written whole.
void WriteJsonFile(const std::string& path, const TJson& json) {
  try {
    platform::CreatePrivateFile(path, std::string(kBom) + JsonToText(json));
  } catch (const std::system_error& e) {
    throw EFileError("Dosya yazilamadi: " + path + " (" + e.what() + ")");
  }
}

}  // namespace

std::string HtmlEncode(const std::string& Text) {
  std::string out = ReplaceAll(Text, "&", "&amp;");
  out = ReplaceAll(out, "<", "&lt;");
  out = ReplaceAll(out, ">", "&gt;");
  out = ReplaceAll(out, "\"", "&quot;");
  out = ReplaceAll(out, "'", "&#39;");
  return ReplaceAll(out, "\r\n", "<br>");
}

std::string BuildReportRecipients(const std::string& DefaultRecipients, const std::string& PlanRecipients) {
  std::vector<std::string> list;
  AddRecipients(DefaultRecipients, list);
  AddRecipients(PlanRecipients, list);
  return Join(list, ";");
}

std::string BuildReportSubject(const TBackupPlan& Plan, bool Success) {
  return (Success ? "[BAŞARILI] Brimora - " : "[HATALI] Brimora - ") + Plan.Name;
}

std::string ReportDateText(TDateTime Value) {
  if (Value == 0) return "-";
  const TDateTimeParts p = DecodeDateTime(Value);
  return Fmt("%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour, p.minute, p.second);
}

std::string ReportDurationText(TDateTime FinishedAt, TDateTime StartedAt) {
  if (FinishedAt == 0 || StartedAt == 0 || StartedAt > FinishedAt) return "-";
  const std::int64_t seconds = MillisecondsBetween(FinishedAt, StartedAt) / 1000;
  return Fmt("%02d:%02d:%02d", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
}

std::string BuildReportHtml(const TBackupPlan& Plan, bool Success, const std::string& Message,
                            TDateTime FinishedAt, TDateTime StartedAt, const std::string& BackupFile) {
  const TStatusLook look = StatusLook(Success);
  const std::string color = look.color;
  const std::string name = HtmlEncode(Plan.Name);
  std::string html;
  html.reserve(8192);
  html +=
      "<!doctype html><html><head><meta charset=\"utf-8\"></head>"
      "<body style=\"margin:0;padding:0;background:#f3f7fb;font-family:Segoe UI,Arial,sans-serif;color:#1f2937;\">"
      "<table role=\"presentation\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" "
      "style=\"width:100%;background:#f3f7fb;padding:28px 0;\"><tr><td align=\"center\">"
      "<table role=\"presentation\" width=\"920\" cellpadding=\"0\" cellspacing=\"0\" "
      "style=\"width:920px;max-width:920px;background:#ffffff;border:1px solid #d8e4ef;\">";
  // Header: the text logo.
  html +=
      "<tr><td align=\"center\" style=\"padding:22px 20px 10px 20px;text-align:center;\">"
      "<span style=\"font-size:34px;font-weight:bold;letter-spacing:.3px;color:#1f76b7;\">"
      "Orv<span style=\"color:#64748b;\">ane</span></span></td></tr>";
  // Banner.
  html +=
      "<tr><td style=\"background:#e4f5fb;padding:30px 34px;\">"
      "<div style=\"font-size:14px;color:#475569;margin-bottom:8px;\">Orvane Yedekleme Bildirimi</div>"
      "<div style=\"font-size:28px;font-weight:bold;color:#25364a;\">Brimora Gorev Raporu</div></td></tr>";
  // Content: title row with the status badge.
  html +=
      "<tr><td style=\"padding:34px;\">"
      "<table role=\"presentation\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" style=\"width:100%;\"><tr>"
      "<td style=\"font-size:20px;font-weight:bold;color:#111827;padding-bottom:18px;\">" +
      name +
      "</td><td align=\"right\" style=\"text-align:right;padding-bottom:18px;white-space:nowrap;\">"
      "<span style=\"display:inline-block;width:30px;height:30px;line-height:30px;text-align:center;"
      "border:2px solid " +
      color + ";color:" + color + ";border-radius:999px;font-size:18px;font-weight:bold;\">" + look.symbol +
      "</span><span style=\"font-weight:bold;color:" + color + ";margin-left:8px;\">" + look.word +
      "</span></td></tr></table>";
  // Run table.
  html +=
      "<table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" "
      "style=\"width:100%;border-collapse:collapse;font-size:14px;\">"
      "<tr style=\"background:#e4f5fb;color:#334155;font-weight:bold;\">";
  for (const char* caption : {"Gorev Adi", "Tur", "Baslama Tarihi", "Bitis Tarihi", "Sure", "Durum"})
    html += HeaderCell(caption);
  html += "</tr><tr>" + DataCell(name) + DataCell(HtmlEncode(BackupTypeDisplayName(Plan))) +
          DataCell(ReportDateText(StartedAt)) + DataCell(ReportDateText(FinishedAt)) +
          DataCell(ReportDurationText(FinishedAt, StartedAt)) +
          DataCell(look.word, "font-weight:bold;color:" + color + ";") + "</tr></table>";
  // Detail table.
  html +=
      "<table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" "
      "style=\"width:100%;margin-top:22px;border-collapse:collapse;font-size:14px;\">" +
      DetailRow("Kaynak", HtmlEncode(PlanSourceText(Plan))) + DetailRow("Yedek Referansi", EncodedOrDash(BackupFile)) +
      DetailRow("Mesaj", EncodedOrDash(Message)) + "</table>";
  if (!Success) {
    html +=
        "<div style=\"margin-top:24px;padding:16px 18px;background:#fff1f2;border-left:4px solid #dc2626;"
        "color:#7f1d1d;\"><div style=\"font-weight:bold;margin-bottom:6px;\">Hata Mesaji</div><div>" +
        EncodedOrDash(Message) + "</div></div>";
  }
  html +=
      "<div style=\"margin-top:34px;text-align:center;\"><span style=\"display:inline-block;background:#178dbb;"
      "color:#ffffff;padding:12px 26px;font-weight:bold;\">Brimora</span></div></td></tr>";
  // Footer.
  html +=
      "<tr><td style=\"text-align:center;padding:18px;color:#94a3b8;font-size:12px;\">"
      "Bu e-posta otomatik olarak olusturuldu.</td></tr>"
      "</table></td></tr></table></body></html>";
  return html;
}

std::string FindScriptInterpreter() {
  const std::string configured = Trim(platform::EnvOr("CALVORA_PYTHON", ""));
  return configured.empty() ? std::string("python3") : configured;
}

const std::string& BuiltInMailScript() {
  static const std::string script(reinterpret_cast<const char*>(kSendBackupReportScript),
                                  sizeof kSendBackupReportScript);
  return script;
}

std::string MailWorkingFolder(TEnv& env) { return PrivateTempFolder(env, {"BrimoraMail"}); }

std::string FindMailScript(TEnv& env) {
  const std::string beside = JoinPath(env.ProgramDir(), kScriptRelativePath);
  if (FileExists(beside)) return beside;
  std::error_code ec;
  const std::string current = std::filesystem::current_path(ec).string();
  if (!ec) {
    const std::string inCurrent = JoinPath(current, kScriptRelativePath);
    if (FileExists(inCurrent)) return inCurrent;
  }
  const std::string folder = MailWorkingFolder(env);
  const std::string runtime = JoinPath(folder, kRuntimeScriptName);
  bool upToDate = false;
  // The copy runs with this account's rights: one that anyone else could
  // have written is replaced, never run.
  if (platform::PrivateFileFault(runtime).empty()) {
    try {
      upToDate = ReadTextFile(runtime) == BuiltInMailScript();
    } catch (const EAppError&) {
      upToDate = false;
    }
  }
  if (!upToDate) {
    try {
      platform::WritePrivateFile(runtime, std::string(kBom) + BuiltInMailScript());
    } catch (const std::system_error& e) {
      throw EFileError("Dosya yazilamadi: " + runtime + " (" + e.what() + ")");
    }
  }
  LogWarnFmt("Mail scripti uygulama klasorunde bulunamadi. Gecici script kullaniliyor: %s", runtime);
  return runtime;
}

void SendBackupReportWith(TEnv& env, const TSMTPReportConfig& Config, const TBackupPlan& Plan, bool Success,
                          const std::string& ResultMessage, TDateTime FinishedAt, TDateTime StartedAt,
                          const std::string& BackupFile) {
  TSMTPReportConfig config = Config;
  std::string recipients;
  if (Success) {
    recipients = Trim(Plan.ReportEmailAddresses);
    if (recipients.empty()) {
      LogInfoFmt("Mail raporu atlandi; basarili yedek icin plan mail adresi tanimli degil: %s", Plan.Name);
      return;
    }
  } else {
    recipients = BuildReportRecipients(config.ToAddresses, Plan.ReportEmailAddresses);
  }
  config.ToAddresses = recipients;
  if (Trim(recipients).empty()) {
    LogWarnFmt("Mail raporu atlandi; alici mail adresi bulunamadi: %s", Plan.Name);
    return;
  }

  std::vector<std::string> files;
  try {
    const std::string folder = MailWorkingFolder(env);
    const std::string id = RandomAlphaNumeric(11);
    const std::string settingsPath = JoinPath(folder, "smtp_" + id + ".json");
    const std::string payloadPath = JoinPath(folder, "payload_" + id + ".json");
    const std::string resultPath = JoinPath(folder, "result_" + id + ".json");
    files = {settingsPath, payloadPath, resultPath};

    WriteJsonFile(settingsPath, ServerSettingsJson(config));
    TJson payload = TJson::object();
    payload["subject"] = BuildReportSubject(Plan, Success);
    payload["body"] = BuildReportHtml(Plan, Success, ResultMessage, FinishedAt, StartedAt, BackupFile);
    payload["isHtml"] = true;
    WriteJsonFile(payloadPath, payload);

    platform::ProcessRequest request;
    request.program = FindScriptInterpreter();
    request.arguments = {FindMailScript(env), "-ConfigPath", settingsPath, "-PayloadPath", payloadPath,
                         "-ResultPath", resultPath};
    // Keeps the script's own output out of the programs' consoles.
    request.captureOutput = true;
    const platform::ProcessResult run = env.Processes().Run(request);
    if (!run.started) throw EAppError("Mail raporu icin PowerShell baslatilamadi: " + run.error);

    const bool hasResult = FileExists(resultPath) && platform::PrivateFileFault(resultPath).empty();
    if (run.exitCode != 0) {
      const std::string text = hasResult ? ReadTextFile(resultPath) : Fmt("PowerShell cikis kodu: %d", run.exitCode);
      LogWarnFmt("Mail raporu gonderilemedi: %s", text);
    } else {
      const std::string text = hasResult ? ReadTextFile(resultPath) : std::string("Mail raporu gonderildi.");
      LogInfoFmt("Mail raporu gonderildi: %s", text);
    }
  } catch (const std::exception& e) {
    LogException("Mail raporu gonderme hatasi", e);
  }
  for (const std::string& file : files) DeleteFileIfExists(file);
}

void SendBackupReport(TEnv& env, const TBackupPlan& Plan, bool Success, const std::string& ResultMessage,
                      TDateTime FinishedAt, TDateTime StartedAt, const std::string& BackupFile) {
  try {
    const TSMTPReportConfig config = GetReportMailConfig(env);
    if (!IsReportMailConfigured(config)) return;
    SendBackupReportWith(env, config, Plan, Success, ResultMessage, FinishedAt, StartedAt, BackupFile);
  } catch (const std::exception& e) {
    LogException("Mail raporu gonderme hatasi", e);
  }
}

}  // namespace calvora
