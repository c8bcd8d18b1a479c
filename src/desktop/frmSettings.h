#pragma once
// The settings window ("Ayarlar"): the cloud root folder and authorisation
// port, the SQL Server and Firebird connections with their tests, a list
// editor for plans and the service controls. For now a notice of what it
// will hold.
#include "desktop/DesktopPrompts.h"
#include "foundation/Env.h"

#include <QDialog>

namespace calvora::desktop {

class TSettingsForm : public QDialog {
  Q_OBJECT
 public:
  TSettingsForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent = nullptr);

 private:
  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
};

}  // namespace calvora::desktop
