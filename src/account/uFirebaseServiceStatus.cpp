#include "account/uFirebaseServiceStatus.h"

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "foundation/Format.h"
#include "foundation/JsonText.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

namespace calvora {

bool GetServiceLoginName(TEnv& env, std::string& loginName, std::string& error) {
  loginName.clear();
  error.clear();
  TAccountCredentials credentials;
  try {
    if (!LoadSavedSignIn(env, credentials)) {
      error = "Servis icin kayitli oturum bulunamadi. Programda hesabinizla giris yapin.";
      return false;
    }
  } catch (const std::exception& e) {
    LogException("Kayitli oturum okunamadi", e);
    error = e.what();
    return false;
  }
  loginName = Trim(credentials.LoginName);
  if (loginName.empty()) {
    error = "Kayitli servis kullanici adi bulunamadi.";
    return false;
  }
  return true;
}

std::string FormatServiceActiveHours(TDateTime now, TDateTime startedAt) {
  if (startedAt <= 0 || startedAt > now) return std::string();
  const std::int64_t minutes = MinutesBetween(startedAt, now);
  const std::int64_t hours = minutes / 60;
  const std::int64_t days = hours / 24;
  if (days > 0) return Fmt("%d gun %d saat %d dk", days, hours % 24, minutes % 60);
  return Fmt("%d saat %d dk", hours % 24, minutes % 60);
}

bool WriteServiceStatus(TEnv& env, const std::string& loginName, const std::string& statusText,
                        std::string& error, TDateTime now, TDateTime startedAt) {
  TJson fields = TJson::object();
  fields["ServisDurumu"] = Trim(statusText);
  fields["ServisAktifCalismaSaati"] = FormatServiceActiveHours(now, startedAt);
  fields["ServisSonBildirim"] = FormatDateTime(now);
  fields["UpdatedAt"] = FormatDateTime(now);
  return WriteAccountFields(env, loginName, fields, error);
}

bool WriteLastPlanRun(TEnv& env, const std::string& loginName, std::string& error, TDateTime runTime) {
  TJson fields = TJson::object();
  fields["SonPlanGerceklestirmeSaati"] = FormatDateTime(runTime);
  fields["UpdatedAt"] = FormatDateTime(runTime);
  return WriteAccountFields(env, loginName, fields, error);
}

bool ReportServiceHeartbeat(TEnv& env, const std::string& statusText, std::string& error, TDateTime now,
                            TDateTime startedAt) {
  std::string loginName;
  if (!GetServiceLoginName(env, loginName, error)) return false;
  return WriteServiceStatus(env, loginName, statusText, error, now, startedAt);
}

bool ReportLastPlanRun(TEnv& env, std::string& error, TDateTime runTime) {
  std::string loginName;
  if (!GetServiceLoginName(env, loginName, error)) return false;
  return WriteLastPlanRun(env, loginName, error, runTime);
}

}  // namespace calvora
