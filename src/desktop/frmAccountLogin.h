#pragma once
// The sign-in window shown at every start: login name or e-mail and
// password, checked against the account directory; a successful sign-in is
// saved for the service.
#include "desktop/DesktopPrompts.h"
#include "foundation/Env.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace calvora::desktop {

class TAccountLoginForm : public QDialog {
  Q_OBJECT
 public:
  TAccountLoginForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent = nullptr);

  // Shows the window modally; true when the customer signed in.
  bool Execute();

  // The window before it is shown: the saved login filled in and the focus
  // in the field to type next (Execute calls it).
  void PrepareForShow();

 private:
  void BuildControls();
  void LoginClick();

  TEnv& FEnv;
  TDesktopPrompts& FPrompts;
  QLabel* imgLogo = nullptr;
  QLabel* lblInfo = nullptr;
  QLineEdit* edtUser = nullptr;
  QLineEdit* edtPassword = nullptr;
  QPushButton* btnLogin = nullptr;
  QPushButton* btnCancel = nullptr;
  QLabel* lblStatus = nullptr;
};

}  // namespace calvora::desktop
