// TDE watch of SQL Server databases: the pre-check before the backup, the
// header check after it and what both mean for the run's outcome.
#include "engine/uCloudBackup.h"

#include "engine/uTdeBaselineStore.h"
#include "foundation/Format.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

namespace calvora {

bool TCloudBackupService::EvaluateTdeBaseline(const TBackupPlan& Plan, const std::string& Thumbprint,
                                              const std::string& CertName, std::string& Information,
                                              std::string& AnomalyText) {
  Information.clear();
  AnomalyText.clear();
  const std::string certName = IsBlank(CertName) ? "bilinmiyor" : Trim(CertName);
  const std::string database = Plan.DatabaseName;
  const std::string thumbprint = Trim(Thumbprint);
  std::string previous;
  const int code = CheckTdeBaseline(FEnv, FConfig.Server, database, thumbprint, previous);
  const std::string baselinePath = TdeBaselinePath(FEnv);
  switch (code) {
    case kTdeFirstSeen:
      if (thumbprint.empty()) return false;
      Information = Fmt(
          "Bilgi: %s veritabani TDE ile sifreli bulundu ve bu durum referans olarak kaydedildi (sertifika: %s, "
          "thumbprint: %s). TDE bilincli kullanilmiyorsa derhal inceleyin; kullaniliyorsa sertifika ve ozel anahtar "
          "yedeginizin guvende oldugundan emin olun.",
          database, certName, thumbprint);
      LogWarn(Information);
      return false;
    case kTdeNewlyEncrypted:
      AnomalyText = Fmt(
          "%s veritabaninda TDE sifrelemesi YENI AKTIF EDILDI (sertifika: %s, thumbprint: %s). Bu, TDE suistimali "
          "fidye saldirisinin belirtisi olabilir: bundan sonraki tum yedekler bu sertifika olmadan geri yuklenemez. "
          "Eski yedeklerin silinmesi (retention) donduruldu. Degisiklik bilincli yapildiysa %s dosyasini silerek "
          "yeni durumu onaylayin.",
          database, certName, thumbprint, baselinePath);
      LogWarn("TDE ANOMALISI: " + AnomalyText);
      return true;
    case kTdeCertificateChanged:
      AnomalyText = Fmt(
          "%s veritabaninin TDE sertifikasi DEGISTI (eski thumbprint: %s, yeni thumbprint: %s, sertifika: %s). Yeni "
          "sertifika saldirgana ait olabilir; mevcut sertifika yedeginiz yeni yedekleri ACMAZ. Eski yedeklerin "
          "silinmesi (retention) donduruldu. Degisiklik bilincli yapildiysa %s dosyasini silerek yeni durumu "
          "onaylayin.",
          database, previous, thumbprint, certName, baselinePath);
      LogWarn("TDE ANOMALISI: " + AnomalyText);
      return true;
    case kTdeSwitchedOff:
      Information = Fmt("Uyari: %s veritabaninda TDE sifrelemesi KAPATILDI (onceki thumbprint: %s). Bu beklenmiyorsa "
                        "inceleyin.",
                        database, previous);
      LogWarn(Information);
      return false;
    default:
      return false;
  }
}

TTdePreCheck TCloudBackupService::RunTdePreCheck(const TBackupPlan& Plan) {
  TTdePreCheck check;
  const std::string database = Plan.DatabaseName;
  TJson payload = TJson::object();
  payload["databaseName"] = database;
  std::string message;
  std::string path;
  bool ok = false;
  try {
    ok = RunSqlScript("tdeStatus", payload, message, path);
  } catch (const std::exception& e) {
    LogException("TDE durum kontrolu istisnasi: " + database, e);
    check.Information = std::string("TDE on kontrolu yapilamadi: ") + e.what();
    return check;
  }
  if (!ok) {
    LogWarnFmt("TDE on kontrolu sorgulanamadi (%s): %s", database, message);
    check.Information = "TDE on kontrolu yapilamadi: " + message;
    return check;
  }
  if (!LastScriptBool("tdeSupported")) {
    const std::string error = LastScriptString("tdeError");
    LogWarnFmt("TDE on kontrolu okunamadi (%s): %s", database, error);
    check.Information = "TDE sifreleme durumu on kontrolde okunamadi: " + error;
    return check;
  }
  check.Encrypted = LastScriptBool("tdeIsEncrypted");
  if (!check.Encrypted) {
    check.Established = true;
    check.Anomaly = EvaluateTdeBaseline(Plan, "", "", check.Information, check.AnomalyText);
  } else if (LastScriptBool("tdeDetailAvailable")) {
    check.Established = true;
    check.Thumbprint = Trim(LastScriptString("tdeThumbprint"));
    const std::string certName = LastScriptString("tdeCertName");
    check.Anomaly = EvaluateTdeBaseline(Plan, check.Thumbprint, certName, check.Information, check.AnomalyText);
  } else {
    LogWarnFmt(
        "TDE sifreleme aktif ancak thumbprint detayi on kontrolde okunamadi (%s); yedek dosyasi basligindan "
        "dogrulanacak: %s",
        database, LastScriptString("tdeError"));
    check.Information = "TDE sifreleme aktif; thumbprint yedek basligindan dogrulanacak.";
  }
  return check;
}

void TCloudBackupService::CheckBackupHeader(const TBackupPlan& Plan, TTdePreCheck& PreCheck) {
  const std::string headerThumb = Trim(LastScriptString("bakTdeThumbprint"));
  const std::string headerError = Trim(LastScriptString("bakTdeCheckError"));
  if (!PreCheck.Established) {
    if (!headerError.empty()) {
      LogWarnFmt("Yedek dosyasi TDE baslik kontrolu yapilamadi (%s): %s", Plan.DatabaseName, headerError);
      return;
    }
    std::string information;
    std::string anomalyText;
    if (EvaluateTdeBaseline(Plan, headerThumb, "", information, anomalyText)) {
      PreCheck.Anomaly = true;
      PreCheck.AnomalyText = anomalyText;
    } else if (PreCheck.Information.empty()) {
      PreCheck.Information = information;
    }
    return;
  }
  if (PreCheck.Anomaly || headerThumb.empty() || SameText(headerThumb, PreCheck.Thumbprint)) return;
  PreCheck.Anomaly = true;
  PreCheck.AnomalyText = Fmt(
      "Olusan yedek dosyasinin basliginda beklenmeyen TDE sifrelemesi tespit edildi (thumbprint: %s). Bu dosya ilgili "
      "sertifika olmadan GERI YUKLENEMEZ. Eski yedeklerin temizligi sonraki calismalarda dondurulacak.",
      headerThumb);
  LogWarn("TDE ANOMALISI: " + PreCheck.AnomalyText);
}

bool TCloudBackupService::CombineTdeOutcome(const TBackupPlan& Plan, const TTdePreCheck& PreCheck,
                                            const std::string& HeaderError, bool UploadSuccess,
                                            const std::string& UploadMessage, const std::string& BackupFilePath,
                                            std::string& ResultMessage) {
  if (!UploadSuccess) {
    ResultMessage = PreCheck.Anomaly ? "[TDE UYARISI] " + PreCheck.AnomalyText + " | " + UploadMessage : UploadMessage;
    return false;
  }
  const bool headerOk = Trim(HeaderError).empty();
  if (PreCheck.Anomaly) {
    ResultMessage = "[TDE UYARISI] " + PreCheck.AnomalyText +
                    " | Yedek alindi ve Drive'a yuklendi ancak TDE anomalisi nedeniyle plan hatali isaretlendi. | " +
                    UploadMessage;
    ReportProgress(Plan, "TDE Uyari", ResultMessage, false, BackupFilePath);
    return false;
  }
  if (PreCheck.Established || headerOk) {
    ResultMessage = PreCheck.Information.empty() ? UploadMessage : PreCheck.Information + " | " + UploadMessage;
    return true;
  }
  if (!PreCheck.Encrypted) {
    LogWarnFmt(
        "TDE sifreleme durumu hicbir katmanda dogrulanamadi (%s); sifreleme belirtisi bulunmadigindan plan basarili "
        "sayildi.",
        Plan.DatabaseName);
    ResultMessage = "[TDE BILGI] TDE sifreleme durumu dogrulanamadi (" + PreCheck.Information +
                    "). Sifreleme belirtisi bulunmadi; yedek basariyla tamamlandi. | " + UploadMessage;
    return true;
  }
  ResultMessage = "[TDE UYARISI] " + Plan.DatabaseName +
                  " veritabani TDE ile sifreli ancak sertifika thumbprint bilgisi dogrulanamadi. "
                  "Yedek alindi ve yuklendi; bu yedek ilgili sertifika/ozel anahtar olmadan GERI "
                  "YUKLENEMEZ. Sertifika ve anahtar yedeginizin guvende oldugunu dogrulayin. | " +
                  UploadMessage;
  ReportProgress(Plan, "TDE Uyari", ResultMessage, false, BackupFilePath);
  return false;
}

}  // namespace calvora
