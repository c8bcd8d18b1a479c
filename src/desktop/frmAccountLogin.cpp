#include "desktop/frmAccountLogin.h"

#include "account/uFirebaseActiveAccount.h"
#include "accountdrive/uFirebaseAccountAuth.h"
#include "desktop/DesktopPalette.h"
#include "desktop/DesktopText.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProxyStyle>
#include <QPushButton>

namespace calvora::desktop {

namespace {

// Masks with "*" whatever the desktop's own mask character is.
class TAsteriskMaskStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                QStyleHintReturn* Return) const override {
    if (Hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(Hint, Option, Widget, Return);
  }
};

constexpr int kClientWidth = 420;
constexpr int kClientHeight = 520;
constexpr const char kLogoFile[] = "orvanelogo.jpg";

}  // namespace

TAccountLoginForm::TAccountLoginForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent)
    : QDialog(Parent), FEnv(Env), FPrompts(Prompts) {
  BuildControls();
}

void TAccountLoginForm::BuildControls() {
  setObjectName("AccountLoginForm");
  setWindowTitle(kApplicationTitle);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(DesktopFont(10));
  setStyleSheet(QString("QDialog#AccountLoginForm { background: %1; }").arg(QString(palette::kSurface)));

  imgLogo = new QLabel(this);
  imgLogo->setObjectName("imgLogo");
  imgLogo->setGeometry(60, 40, 300, 80);
  imgLogo->setAlignment(Qt::AlignCenter);
  const QPixmap logo = QFileInfo::exists(kLogoFile) ? QPixmap(kLogoFile) : QPixmap();
  if (!logo.isNull()) {
    imgLogo->setPixmap(logo.scaled(imgLogo->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  } else {
    // Without the logo file the place still says whose window this is.
    imgLogo->setText(kApplicationTitle);
    imgLogo->setFont(DesktopFont(14, true));
    imgLogo->setStyleSheet(QString("color: %1;").arg(QString(palette::kHeroBand)));
  }

  lblInfo = new QLabel("Devam etmek icin hesabinizla giris yapin.", this);
  lblInfo->setObjectName("lblInfo");
  lblInfo->setGeometry(40, 150, 340, 30);
  lblInfo->setAlignment(Qt::AlignCenter);
  lblInfo->setFont(DesktopFont(10));
  lblInfo->setStyleSheet(QString("color: %1;").arg(QString(palette::kInfoText)));

  edtUser = new QLineEdit(this);
  edtUser->setObjectName("edtUser");
  edtUser->setGeometry(40, 200, 340, 38);
  edtUser->setPlaceholderText("E-posta / Kullanıcı Adı *");
  edtUser->setFont(DesktopFont(11));

  edtPassword = new QLineEdit(this);
  edtPassword->setObjectName("edtPassword");
  edtPassword->setGeometry(40, 255, 340, 38);
  edtPassword->setPlaceholderText("Parola *");
  edtPassword->setFont(DesktopFont(11));
  edtPassword->setEchoMode(QLineEdit::Password);
  auto* mask = new TAsteriskMaskStyle;
  mask->setParent(edtPassword);
  edtPassword->setStyle(mask);

  btnCancel = new QPushButton("İptal", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setGeometry(165, 320, 90, 42);
  btnCancel->setAutoDefault(false);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects as well

  btnLogin = new QPushButton("Giriş Yap", this);
  btnLogin->setObjectName("btnLogin");
  btnLogin->setGeometry(260, 320, 120, 42);
  btnLogin->setDefault(true);
  connect(btnLogin, &QPushButton::clicked, this, &TAccountLoginForm::LoginClick);

  lblStatus = new QLabel(this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setGeometry(40, kClientHeight - 10 - 80, kClientWidth - 80, 80);
  lblStatus->setAlignment(Qt::AlignCenter);
  lblStatus->setWordWrap(true);
  lblStatus->setFont(DesktopFont(9, true));
  lblStatus->setStyleSheet(QString("color: %1;").arg(QString(palette::kError)));
}

void TAccountLoginForm::PrepareForShow() {
  TAccountCredentials saved;
  try {
    if (LoadSavedSignIn(FEnv, saved)) edtUser->setText(Q(Trim(saved.LoginName)));
  } catch (const std::exception& e) {
    LogException("Kayitli oturum okunamadi", e);
  }
  QWidget* first = edtUser->text().isEmpty() ? edtUser : edtPassword;
  first->setFocus();  // taken when the window is shown
}

bool TAccountLoginForm::Execute() {
  PrepareForShow();
  return exec() == QDialog::Accepted;
}

void TAccountLoginForm::LoginClick() {
  btnLogin->setEnabled(false);
  btnCancel->setEnabled(false);
  lblStatus->setText("Hesap kontrol ediliyor...");
  lblStatus->repaint();
  // The check blocks this thread; the cursor says so.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  TAccountAuthResult result;
  try {
    SignInAccount(FEnv, S(edtUser->text()), S(edtPassword->text()), result);
  } catch (const std::exception& e) {
    LogException("Oturum kaydedilemedi", e);
    result.Success = false;
    result.MessageText = e.what();
  }
  QApplication::restoreOverrideCursor();
  btnLogin->setEnabled(true);
  btnCancel->setEnabled(true);
  if (result.Success) {
    lblStatus->clear();
    accept();
    return;
  }
  lblStatus->setText(Q(result.MessageText));
  FPrompts.Message(this, TMessageKind::Warning, result.MessageText);
}

}  // namespace calvora::desktop
