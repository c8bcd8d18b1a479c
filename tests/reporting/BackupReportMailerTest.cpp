#include "reporting/uBackupReportMailer.h"

#include "DevCloud.h"
#include "AccountDirectoryState.h"
#include "MailTestServers.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/file_io.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace calvora {
namespace {

using test::TLogCapture;
using test::TTestEnv;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kBom[] = "\xEF\xBB\xBF";

TBackupPlan MakePlan() {
  TBackupPlan plan;
  plan.Name = "Muhasebe <Şube>";
  plan.BackupType = "sql";
  plan.DatabaseName = "Muhasebe;Stok";
  plan.ReportEmailAddresses = " patron@firma.example ; MUHASEBE@firma.example ";
  return plan;
}

TSMTPReportConfig MakeConfig(int port) {
  TSMTPReportConfig config;
  config.Enabled = true;
  config.Host = "127.0.0.1";
  config.Port = port;
  config.UserName = "rapor@bayi.example";
  config.Password = "şifre\"1";
  config.FromAddress = "yedek@bayi.example";
  config.FromName = "Brimora";
  config.ToAddresses = "destek@bayi.example;muhasebe@firma.example";
  config.Pop3Port = 110;
  return config;
}

std::vector<std::string> MailFolderEntries(TTestEnv& env) {
  std::vector<std::string> names;
  const std::string folder = MailWorkingFolder(env.Env());
  if (!DirectoryExists(folder)) return names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

// Runs the test in a folder of its own: the mailer also looks for the
// script below the current folder.
class TCurrentFolder {
 public:
  explicit TCurrentFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~TCurrentFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// Answers the script run as told and lets the test look at the files the
// mailer wrote while they exist.
class TScriptedRunner : public platform::ProcessRunner {
 public:
  std::function<platform::ProcessResult(const platform::ProcessRequest&)> answer;
  std::vector<platform::ProcessRequest> requests;

  platform::ProcessResult Run(const platform::ProcessRequest& request) override {
    requests.push_back(request);
    return answer(request);
  }
  bool StartDetached(const platform::ProcessRequest&, std::string&) override { return false; }
};

// Switch value of a mail-script command line.
std::string Argument(const platform::ProcessRequest& request, const std::string& name) {
  for (size_t i = 0; i + 1 < request.arguments.size(); ++i)
    if (request.arguments[i] == name) return request.arguments[i + 1];
  return std::string();
}

TEST(ReportBuilders, RecipientsMergeDefaultsFirstWithoutDuplicates) {
  struct Case {
    const char* defaults;
    const char* plan;
    const char* expected;
  } cases[] = {
      {"destek@bayi.example; muhasebe@firma.example", "MUHASEBE@firma.example, patron@firma.example",
       "destek@bayi.example;muhasebe@firma.example;patron@firma.example"},
      {"", "  p@q.example ;", "p@q.example"},
      {"a@x.example,,a@x.example ; ", "A@X.EXAMPLE", "a@x.example"},
      {" ; , ", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, BuildReportRecipients(c.defaults, c.plan)) << c.defaults;
}

TEST(ReportBuilders, SubjectCarriesOutcomeAndUnencodedPlanName) {
  const TBackupPlan plan = MakePlan();
  EXPECT_EQ("[BAŞARILI] Brimora - Muhasebe <Şube>", BuildReportSubject(plan, true));
  EXPECT_EQ("[HATALI] Brimora - Muhasebe <Şube>", BuildReportSubject(plan, false));
}

TEST(ReportBuilders, HtmlEncodeReplacesAmpersandFirstAndKeepsLineBreaks) {
  const std::pair<std::string, std::string> cases[] = {
      {"a & b", "a &amp; b"},
      {"&lt;", "&amp;lt;"},
      {"<script>\"x\"</script>", "&lt;script&gt;&quot;x&quot;&lt;/script&gt;"},
      {"it's", "it&#39;s"},
      {"bir\r\niki\nuc", "bir<br>iki\nuc"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(expected, HtmlEncode(text)) << text;
}

TEST(ReportBuilders, DatesAndDurations) {
  const TDateTime start = EncodeDateTime(2024, 3, 5, 10, 0, 0);
  EXPECT_EQ("05.03.2024 10:00:00", ReportDateText(start));
  EXPECT_EQ("-", ReportDateText(0));
  struct Case {
    TDateTime finished;
    TDateTime started;
    const char* expected;
  } cases[] = {
      {EncodeDateTime(2024, 3, 5, 13, 5, 9), start, "03:05:09"},
      {IncHours(start, 100), start, "100:00:00"},
      {IncSeconds(start, 59), start, "00:00:59"},
      {start, start, "00:00:00"},
      {0, start, "-"},
      {start, 0, "-"},
      {start, IncSeconds(start, 1), "-"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, ReportDurationText(c.finished, c.started)) << c.expected;
}

TEST(ReportBuilders, HtmlShowsOutcomeRunAndDetailsAsText) {
  const TBackupPlan plan = MakePlan();
  const TDateTime started = EncodeDateTime(2024, 3, 5, 10, 0, 0);
  const TDateTime finished = EncodeDateTime(2024, 3, 5, 13, 5, 9);
  const std::string message = "<b>Disk dolu</b>\r\nikinci satir";
  const std::string encodedMessage = "&lt;b&gt;Disk dolu&lt;/b&gt;<br>ikinci satir";

  const std::string failed = BuildReportHtml(plan, false, message, finished, started, "/work/Muhasebe_.bak");
  EXPECT_TRUE(StartsWith(failed, "<!doctype html>"));
  EXPECT_THAT(failed, HasSubstr("<meta charset=\"utf-8\">"));
  EXPECT_TRUE(EndsWith(failed, "</html>"));
  EXPECT_THAT(failed, HasSubstr("Muhasebe &lt;Şube&gt;"));
  EXPECT_THAT(failed, Not(HasSubstr("<b>Disk")));
  EXPECT_THAT(failed, HasSubstr("&#10007;"));
  EXPECT_THAT(failed, HasSubstr("color:#dc2626;\">Basarisiz</td>"));
  EXPECT_THAT(failed, HasSubstr(">SQL</td>"));
  EXPECT_THAT(failed, HasSubstr(">05.03.2024 10:00:00</td>"));
  EXPECT_THAT(failed, HasSubstr(">05.03.2024 13:05:09</td>"));
  EXPECT_THAT(failed, HasSubstr(">03:05:09</td>"));
  EXPECT_THAT(failed, HasSubstr("Kaynak</td><td style=\"padding:10px;border:1px solid #e5edf3;\">Muhasebe, Stok</td>"));
  EXPECT_THAT(failed, HasSubstr("Yedek Referansi</td><td style=\"padding:10px;border:1px solid #e5edf3;\">"
                                "/work/Muhasebe_.bak</td>"));
  EXPECT_THAT(failed, HasSubstr("Mesaj</td><td style=\"padding:10px;border:1px solid #e5edf3;\">" + encodedMessage));
  EXPECT_THAT(failed, HasSubstr("Hata Mesaji</div><div>" + encodedMessage + "</div>"));
  const size_t captions[] = {failed.find(">Gorev Adi<"), failed.find(">Tur<"), failed.find(">Baslama Tarihi<"),
                             failed.find(">Bitis Tarihi<"), failed.find(">Sure<"), failed.find(">Durum<")};
  EXPECT_TRUE(std::is_sorted(std::begin(captions), std::end(captions)));
  EXPECT_NE(std::string::npos, captions[0]);

  const std::string succeeded = BuildReportHtml(plan, true, "", 0, started, "");
  EXPECT_THAT(succeeded, HasSubstr("&#10003;"));
  EXPECT_THAT(succeeded, HasSubstr("color:#16a34a;\">Basarili</td>"));
  EXPECT_THAT(succeeded, Not(HasSubstr("Hata Mesaji")));
  EXPECT_THAT(succeeded, Not(HasSubstr("#dc2626")));
  EXPECT_THAT(succeeded, HasSubstr("Yedek Referansi</td><td style=\"padding:10px;border:1px solid #e5edf3;\">-</td>"));
  EXPECT_THAT(succeeded, HasSubstr("Mesaj</td><td style=\"padding:10px;border:1px solid #e5edf3;\">-</td>"));
  EXPECT_THAT(succeeded, HasSubstr(">-</td><td style=\"padding:12px;border:1px solid #e5edf3;\">-</td>"));
}

TEST(ReportMailer, FailedRunIsMailedThroughTheBuiltInScript) {
  TTestEnv env;
  TCurrentFolder inRoot(env.Root());
  test::TSmtpTestServer smtp;
  std::string error;
  ASSERT_TRUE(smtp.Start({"--user", "rapor@bayi.example", "--password", "şifre\"1"}, error)) << error;
  TLogCapture log;
  const TBackupPlan plan = MakePlan();
  const TDateTime started = EncodeDateTime(2024, 3, 5, 10, 0, 0);
  const TDateTime finished = EncodeDateTime(2024, 3, 5, 13, 5, 9);

  SendBackupReportWith(env.Env(), MakeConfig(smtp.Port()), plan, false, "Disk dolu\r\n<hata>", finished, started,
                       "/work/Muhasebe_.bak");

  const auto messages = smtp.Messages();
  ASSERT_EQ(1u, messages.size()) << ::testing::PrintToString(log.Lines());
  const TJson& mail = messages[0];
  EXPECT_EQ("yedek@bayi.example", mail["from"]);
  EXPECT_EQ((TJson{"destek@bayi.example", "muhasebe@firma.example", "patron@firma.example"}), mail["to"]);
  EXPECT_EQ("rapor@bayi.example", mail["login"]);
  EXPECT_EQ("[HATALI] Brimora - Muhasebe <Şube>", mail["subject"]);
  EXPECT_EQ(BuildReportHtml(plan, false, "Disk dolu\r\n<hata>", finished, started, "/work/Muhasebe_.bak"),
            TrimRight(mail["body"].get<std::string>()));

  const std::string runtime = JoinPath(MailWorkingFolder(env.Env()), "SendBackupReport.runtime.py");
  EXPECT_TRUE(log.Contains(TLogLevel::Warn,
                           "Mail scripti uygulama klasorunde bulunamadi. Gecici script kullaniliyor: " + runtime));
  EXPECT_TRUE(log.Contains(TLogLevel::Info,
                           "Mail raporu gonderildi: {\"success\":true,\"message\":\"Mail gonderildi.\"}"));
  EXPECT_THAT(MailFolderEntries(env), ElementsAre("SendBackupReport.runtime.py"));
}

TEST(ReportMailer, RefusedMailIsLoggedAndTheFilesAreRemoved) {
  TTestEnv env;
  ForceDirectories(JoinPath(env.ProgramDir(), "sql"));
  WriteTextFile(JoinPath(env.ProgramDir(), "sql/SendBackupReport.py"), BuiltInMailScript(), false);
  test::TSmtpTestServer smtp;
  std::string error;
  ASSERT_TRUE(smtp.Start({"--user", "rapor@bayi.example", "--password", "baska"}, error)) << error;
  TLogCapture log;

  SendBackupReportWith(env.Env(), MakeConfig(smtp.Port()), MakePlan(), false, "x", 0, 0, "");

  EXPECT_TRUE(smtp.Messages().empty());
  EXPECT_TRUE(log.Contains(TLogLevel::Warn,
                           "Mail raporu gonderilemedi: {\"success\":false,\"message\":\"SMTP kimlik dogrulama "
                           "basarisiz: 535 5.7.8 Authentication credentials invalid\"}"));
  EXPECT_FALSE(log.Contains("Gecici script"));
  EXPECT_TRUE(MailFolderEntries(env).empty());
}

TEST(ReportMailer, ScriptRunOutcomesAreLoggedAndFilesAlwaysDeleted) {
  struct Case {
    bool started;
    int exitCode;
    const char* resultText;  // nullptr: the script leaves no result file
    TLogLevel level;
    const char* line;
  } cases[] = {
      {false, -1, nullptr, TLogLevel::Error,
       "Mail raporu gonderme hatasi | EAppError: Mail raporu icin PowerShell baslatilamadi: No such file or directory"},
      {true, 1, nullptr, TLogLevel::Warn, "Mail raporu gonderilemedi: PowerShell cikis kodu: 1"},
      {true, 1, "{\"success\":false,\"message\":\"x\"}", TLogLevel::Warn,
       "Mail raporu gonderilemedi: {\"success\":false,\"message\":\"x\"}"},
      {true, 0, nullptr, TLogLevel::Info, "Mail raporu gonderildi: Mail raporu gonderildi."},
      {true, 0, "{\"success\":true,\"message\":\"Mail gonderildi.\"}", TLogLevel::Info,
       "Mail raporu gonderildi: {\"success\":true,\"message\":\"Mail gonderildi.\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TScriptedRunner runner;
    TTestEnv env(TDeploymentSettings(), &runner);
    TCurrentFolder inRoot(env.Root());
    std::string settingsText, payloadText;
    std::filesystem::perms settingsMode{};
    runner.answer = [&](const platform::ProcessRequest& request) {
      const std::string settings = Argument(request, "-ConfigPath");
      settingsText = test::ReadFile(settings);
      payloadText = test::ReadFile(Argument(request, "-PayloadPath"));
      settingsMode = std::filesystem::status(settings).permissions();
      if (c.resultText) test::WriteFile(Argument(request, "-ResultPath"), c.resultText);
      platform::ProcessResult result;
      result.started = c.started;
      result.exitCode = c.exitCode;
      if (!c.started) result.error = "No such file or directory";
      return result;
    };
    TLogCapture log;
    TSMTPReportConfig config = MakeConfig(2525);
    config.PopBeforeSmtp = true;
    config.Pop3Host = "pop.bayi.example";

    SendBackupReportWith(env.Env(), config, MakePlan(), true, "Tamam", 0, 0, "");

    EXPECT_TRUE(log.Contains(c.level, c.line)) << ::testing::PrintToString(log.Lines());
    EXPECT_THAT(MailFolderEntries(env), ElementsAre("SendBackupReport.runtime.py"));
    ASSERT_EQ(1u, runner.requests.size());
    const auto& request = runner.requests[0];
    EXPECT_EQ(FindScriptInterpreter(), request.program);
    EXPECT_EQ(JoinPath(MailWorkingFolder(env.Env()), "SendBackupReport.runtime.py"), request.arguments[0]);
    EXPECT_THAT(std::vector<std::string>(request.arguments.begin() + 1, request.arguments.end()),
                ElementsAre("-ConfigPath", HasSubstr("/BrimoraMail/smtp_"), "-PayloadPath",
                            HasSubstr("/BrimoraMail/payload_"), "-ResultPath", HasSubstr("/BrimoraMail/result_")));
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, settingsMode);
    EXPECT_EQ(std::string(kBom) +
                  "{\"host\":\"127.0.0.1\",\"port\":2525,\"useSSL\":false,\"userName\":\"rapor@bayi.example\","
                  "\"password\":\"\\u015fifre\\\"1\",\"fromAddress\":\"yedek@bayi.example\",\"fromName\":\"Brimora\","
                  "\"toAddresses\":\"patron@firma.example ; MUHASEBE@firma.example\",\"popBeforeSmtp\":true,"
                  "\"pop3Host\":\"pop.bayi.example\",\"pop3Port\":110}",
              settingsText);
    EXPECT_TRUE(StartsWith(payloadText, std::string(kBom) + "{\"subject\":\"[BA\\u015eARILI] Brimora - Muhasebe <"));
    EXPECT_TRUE(EndsWith(payloadText, "</html>\",\"isHtml\":true}"));
  }
}

TEST(ReportMailer, RecipientsDecideWhetherAMailIsSent) {
  struct Case {
    bool success;
    const char* planAddresses;
    const char* defaults;
    const char* sentTo;  // nullptr: nothing is sent
    TLogLevel level;
    const char* line;
  } cases[] = {
      {true, "", "destek@bayi.example", nullptr, TLogLevel::Info,
       "Mail raporu atlandi; basarili yedek icin plan mail adresi tanimli degil: Muhasebe <Şube>"},
      {false, " ; ", "", nullptr, TLogLevel::Warn, "Mail raporu atlandi; alici mail adresi bulunamadi: Muhasebe <Şube>"},
      {true, " a@x.example; B@y.example ", "destek@bayi.example", "a@x.example; B@y.example", TLogLevel::Info,
       "Mail raporu gonderildi"},
      {false, "D@bayi.example, e@x.example", "d@bayi.example", "d@bayi.example;e@x.example", TLogLevel::Info,
       "Mail raporu gonderildi"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.planAddresses);
    TScriptedRunner runner;
    TTestEnv env(TDeploymentSettings(), &runner);
    std::string settingsText;
    runner.answer = [&](const platform::ProcessRequest& request) {
      settingsText = test::ReadFile(Argument(request, "-ConfigPath"));
      platform::ProcessResult result;
      result.started = true;
      result.exitCode = 0;
      return result;
    };
    TBackupPlan plan = MakePlan();
    plan.ReportEmailAddresses = c.planAddresses;
    TSMTPReportConfig config = MakeConfig(25);
    config.ToAddresses = c.defaults;
    TLogCapture log;

    SendBackupReportWith(env.Env(), config, plan, c.success, "", 0, 0, "");

    EXPECT_TRUE(log.Contains(c.level, c.line)) << ::testing::PrintToString(log.Lines());
    if (c.sentTo == nullptr) {
      EXPECT_TRUE(runner.requests.empty());
    } else {
      ASSERT_EQ(1u, runner.requests.size());
      TJson settings;
      ASSERT_TRUE(TryParseJson(settingsText.substr(3), settings));
      EXPECT_EQ(c.sentTo, settings["toAddresses"]);
    }
  }
}

TEST(ReportMailer, InterpreterComesFromCalvoraPythonElsePath) {
  const char* saved = std::getenv("CALVORA_PYTHON");
  const std::string previous = saved ? saved : "";
  setenv("CALVORA_PYTHON", " /opt/python/bin/python3 ", 1);
  EXPECT_EQ("/opt/python/bin/python3", FindScriptInterpreter());
  unsetenv("CALVORA_PYTHON");
  EXPECT_EQ("python3", FindScriptInterpreter());
  if (saved) setenv("CALVORA_PYTHON", previous.c_str(), 1);
}

TEST(ReportMailer, MailScriptIsTakenFromTheProgramFolderThenTheCurrentFolderElseTheBuiltInCopy) {
  TTestEnv env;
  const std::string source = JoinPath(test::SourceDir(), "sql/SendBackupReport.py");
  EXPECT_EQ(test::ReadFile(source), BuiltInMailScript());
  const std::string current = JoinPath(env.Root(), "current");
  const std::string beside = JoinPath(env.ProgramDir(), "sql/SendBackupReport.py");
  const std::string inCurrentFolder = JoinPath(current, "sql/SendBackupReport.py");
  ForceDirectories(ExtractFileDir(beside));
  ForceDirectories(ExtractFileDir(inCurrentFolder));
  test::WriteFile(beside, "# own copy\n");
  test::WriteFile(inCurrentFolder, "# copy in the current folder\n");
  TCurrentFolder inCurrent(current);
  {
    TLogCapture log;
    EXPECT_EQ(beside, FindMailScript(env.Env()));
    DeleteFileIfExists(beside);
    EXPECT_EQ(inCurrentFolder, FindMailScript(env.Env()));
    EXPECT_TRUE(log.Lines().empty());
  }
  DeleteFileIfExists(inCurrentFolder);

  const std::string runtime = JoinPath(MailWorkingFolder(env.Env()), "SendBackupReport.runtime.py");
  TLogCapture log;
  EXPECT_EQ(runtime, FindMailScript(env.Env()));
  EXPECT_EQ(std::string(kBom) + BuiltInMailScript(), test::ReadFile(runtime));
  EXPECT_TRUE(log.Contains(TLogLevel::Warn, "Gecici script kullaniliyor: " + runtime));

  // Unchanged: reused as it is. Changed: written again.
  ASSERT_TRUE(platform::SetFileModifiedUnix(runtime, 1000000000));
  EXPECT_EQ(runtime, FindMailScript(env.Env()));
  double modified = 0;
  ASSERT_TRUE(platform::FileModifiedUnix(runtime, modified));
  EXPECT_EQ(1000000000, static_cast<long long>(modified));
  test::WriteFile(runtime, "print('tampered')\n");
  EXPECT_EQ(runtime, FindMailScript(env.Env()));
  EXPECT_EQ(std::string(kBom) + BuiltInMailScript(), test::ReadFile(runtime));
}

// The mail script runs with the service's rights: neither a folder nor a
// copy of the script that another account could have written is used.
TEST(ReportMailer, PlantedMailFolderOrScriptIsNeverRun) {
  TScriptedRunner runner;
  runner.answer = [](const platform::ProcessRequest&) {
    platform::ProcessResult result;
    result.started = true;
    return result;
  };
  TTestEnv env(TDeploymentSettings(), &runner);
  TCurrentFolder inRoot(env.Root());
  const std::string folder = env.TempDir() + "/BrimoraMail";
  const std::string attacker = env.Root() + "/attacker";
  ForceDirectories(attacker);
  test::WriteFile(attacker + "/SendBackupReport.runtime.py", "planted");
  std::filesystem::create_directory_symlink(attacker, folder);
  {
    TLogCapture log;
    SendBackupReportWith(env.Env(), MakeConfig(25), MakePlan(), false, "x", 0, 0, "");
    EXPECT_TRUE(runner.requests.empty());
    EXPECT_TRUE(log.Contains("Gecici klasor guvenli degil: " + folder));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(attacker), {}), 1);
    EXPECT_EQ(test::ReadFile(attacker + "/SendBackupReport.runtime.py"), "planted");
  }

  std::filesystem::remove(folder);
  const std::string runtime = JoinPath(MailWorkingFolder(env.Env()), "SendBackupReport.runtime.py");
  test::WriteFile(runtime, std::string(kBom) + BuiltInMailScript());
  std::filesystem::permissions(runtime, std::filesystem::perms::all);
  EXPECT_EQ(runtime, FindMailScript(env.Env()));
  EXPECT_EQ(std::filesystem::status(runtime).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::string(kBom) + BuiltInMailScript(), test::ReadFile(runtime));
}

// Through the effective settings: the directory-wide definition of the
// account directory, with POP-before-SMTP.
TEST(ReportMailer, SendBackupReportUsesTheEffectiveMailSettings) {
  test::TTempDir cloudData;
  devcloud::DevCloud cloud(cloudData.Path());
  ASSERT_TRUE(cloud.Start());
  test::TSmtpTestServer smtp;
  test::TFixtureServer pop3;
  std::string error;
  ASSERT_TRUE(smtp.Start({}, error)) << error;
  ASSERT_TRUE(pop3.Start("pop3_server.py",
                         {"--log", "{dir}/pop3.log", "--user", "rapor@bayi.example", "--password", "pop-sifre"},
                         error))
      << error;

  TDeploymentSettings deployment;
  deployment.FirebaseApiKey = cloud.Account().ApiKey();
  deployment.FirebaseDatabaseURL = cloud.BaseUrl() + "/rtdb/";
  deployment.FirebaseAuthBase = cloud.BaseUrl();
  deployment.FirebaseTokenBase = cloud.BaseUrl();
  deployment.ServiceEmail = "servis@calvora.example";
  deployment.ServicePassword = "servis-sifre";
  cloud.Account().AddUser(deployment.ServiceEmail, deployment.ServicePassword);
  cloud.Account().Write("MailSettings/Admin", {{"Enabled", true},
                                               {"Host", "127.0.0.1"},
                                               {"Port", smtp.Port()},
                                               {"UseSsl", false},
                                               {"UserName", "rapor@bayi.example"},
                                               {"Password", "pop-sifre"},
                                               {"FromAddress", "yedek@bayi.example"},
                                               {"DefaultToAddresses", "destek@bayi.example"},
                                               {"PopBeforeSmtp", true},
                                               {"Pop3Host", "127.0.0.1"},
                                               {"Pop3Port", pop3.Port()}});
  TTestEnv env(deployment);
  TLogCapture log;

  SendBackupReport(env.Env(), MakePlan(), false, "Hata", 0, 0, "");

  const auto messages = smtp.Messages();
  ASSERT_EQ(1u, messages.size()) << ::testing::PrintToString(log.Lines());
  EXPECT_EQ((TJson{"destek@bayi.example", "patron@firma.example", "MUHASEBE@firma.example"}), messages[0]["to"]);
  EXPECT_EQ("USER rapor@bayi.example\nPASS pop-sifre\nQUIT\n", test::ReadFile(JoinPath(pop3.Folder(), "pop3.log")));
}

TEST(ReportMailer, NothingHappensWithoutCompleteMailSettings) {
  TScriptedRunner runner;
  TDeploymentSettings deployment;  // no built-in server, no reachable directory
  deployment.FirebaseAuthBase = "http://127.0.0.1:9";
  deployment.FirebaseDatabaseURL = "http://127.0.0.1:9/";
  TTestEnv env(deployment, &runner);
  TLogCapture log;

  SendBackupReport(env.Env(), MakePlan(), false, "Hata", 0, 0, "");

  EXPECT_TRUE(runner.requests.empty());
  for (const auto& line : log.Lines()) EXPECT_THAT(line, Not(HasSubstr("Mail raporu")));
}

}  // namespace
}  // namespace calvora
