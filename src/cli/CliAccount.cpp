// signin, signout, whoami: the saved sign-in the desktop's sign-in window
// writes and the service acts for.
#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uAccountDriveContext.h"
#include "accountdrive/uDriveQuotaManager.h"
#include "accountdrive/uFirebaseAccountAuth.h"
#include "cli/CliCommands.h"
#include "foundation/TextUtil.h"
#include "google/uGoogleAuth.h"
#include "google/uGoogleDrive.h"

namespace calvora::cli {

int SignInCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {{"password-stdin", TOptionKind::Flag}});
  RequirePositional(args, 0, 1, "signin [LOGIN] [--password-stdin]");
  std::string login = args.Positional().empty() ? std::string() : args.Positional()[0];
  if (IsBlank(login)) {
    if (args.Has("password-stdin") || !Context.Console.InIsTerminal())
      throw EUsageError("Kullanici adi/e-posta zorunlu.");
    Context.Console.ReadLine("E-posta / Kullanıcı Adı: ", login);
  }
  const std::string password = ReadSecret(Context, args, "password-stdin", "Parola: ");
  TAccountAuthResult result;
  SignInAccount(Context.Env(), login, password, result);
  if (!result.Success) throw ECliError(result.MessageText);
  if (Context.Json) {
    PrintJson(Context, TJson{{"LoginName", result.LoginName}, {"DisplayName", result.DisplayName},
                             {"Message", result.MessageText}});
  } else {
    PrintLine(Context, result.MessageText);
    PrintLine(Context, "Aktif Hesap: " + (IsBlank(result.DisplayName) ? result.LoginName
                                                                       : result.DisplayName + " (" + result.LoginName + ")"));
  }
  return kExitSuccess;
}

int SignOutCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 0, 0, "signout");
  TEnv& env = Context.Env();
  const bool had = HasSavedSignIn(env);
  ClearSavedSignIn(env);
  const std::string message = had ? "Oturum kapatildi." : "Kayitli oturum yok.";
  if (Context.Json)
    PrintJson(Context, TJson{{"SignedOut", had}, {"Message", message}});
  else
    PrintLine(Context, message);
  return kExitSuccess;
}

namespace {

struct TQuotaLine {
  std::string Text;
  TJson Json;
};

// The quota card of the main window, as text.
TQuotaLine ReadQuota(TEnv& Env) {
  std::unique_ptr<TGoogleAuth> auth = CreateAccountGoogleAuth(Env);
  if (IsBlank(auth->TokenData().AccessToken)) return {"Bagli degil", nullptr};
  TGoogleDrive drive(*auth);
  TAccountDriveUsage usage;
  std::string error;
  if (!GetAccountDriveUsage(Env, drive, Trim(Env.Config().GetRootFolderID()), usage, error))
    return {"Okunamadi: " + error, nullptr};
  const std::string limit = usage.LimitBytes > 0 ? FormatByteSize(usage.LimitBytes) : "Sinirsiz";
  return {FormatByteSize(usage.UsedBytes) + " / " + limit,
          TJson{{"UsedBytes", usage.UsedBytes}, {"LimitBytes", usage.LimitBytes},
                {"UsesAccountQuota", usage.UsesAccountQuota}}};
}

}  // namespace

int WhoAmICommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 0, 0, "whoami");
  TEnv& env = Context.Env();
  TAccountCredentials saved;
  if (!LoadSavedSignIn(env, saved)) throw ECliError(kNoSavedSignInMessage);
  TFirebaseManagedAccount account;
  std::string error;
  std::string displayName = saved.DisplayName;
  std::string check = "Gecerli";
  switch (LookupActiveAccount(env, account, error)) {
    case TAccountLookup::Found:
      if (!IsBlank(account.DisplayName)) displayName = account.DisplayName;
      break;
    case TAccountLookup::NotFound:
      check = "Hesap bulunamadi: " + error;
      break;
    case TAccountLookup::Failed:
      check = "Hesap kontrol edilemedi: " + error;
      break;
  }
  const TQuotaLine quota = ReadQuota(env);
  if (Context.Json) {
    PrintJson(Context, TJson{{"LoginName", saved.LoginName}, {"DisplayName", displayName},
                             {"Account", check}, {"Quota", quota.Json}, {"QuotaText", quota.Text}});
    return kExitSuccess;
  }
  PrintFields(Context, {{"Hesap", saved.LoginName}, {"Ad", displayName}, {"Durum", check}, {"Drive Kota", quota.Text}});
  return kExitSuccess;
}

}  // namespace calvora::cli
