#include "desktop/frmSettings.h"

#include "desktop/DesktopWidgets.h"

namespace calvora::desktop {

TSettingsForm::TSettingsForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent)
    : QDialog(Parent), FEnv(Env), FPrompts(Prompts) {
  setObjectName("SettingsForm");
  setWindowTitle("Ayarlar");
  BuildNotice(this, "Ayarlar",
              "Bu pencerede bulut kok klasoru ve yetki portu, SQL Server ve Firebird baglanti ayarlari "
              "(baglanti testleriyle), yedekleme planlarinin listesi ve Windows Service kurulumu, baslatma ve "
              "durdurma islemleri yer alacak.");
}

}  // namespace calvora::desktop
