#include "DesktopTestSupport.h"

#include "account/uFirebaseActiveAccount.h"
#include "desktop/DesktopProgram.h"
#include "desktop/DesktopText.h"
#include "desktop/frmAccountLogin.h"
#include "foundation/TextFile.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace calvora {
namespace {

using desktop::S;
using desktop::TAccountLoginForm;

class SignInWindowTest : public test::DesktopTest {
 protected:
  template <typename T>
  T* In(QWidget& Window, const char* Name) {
    T* widget = Window.findChild<T*>(Name);
    EXPECT_NE(widget, nullptr) << Name;
    return widget;
  }
  // Types both fields and presses Enter in the password field.
  void Submit(QWidget& Window, const std::string& Login, const std::string& Password) {
    for (auto [name, text] : {std::pair{"edtUser", Login}, std::pair{"edtPassword", Password}}) {
      auto* edit = In<QLineEdit>(Window, name);
      edit->clear();
      QTest::keyClicks(edit, QString::fromStdString(text));
    }
    QTest::keyClick(In<QLineEdit>(Window, "edtPassword"), Qt::Key_Return);
  }
};

TEST_F(SignInWindowTest, ChecksTheAccountAndSaysWhyASignInFailed) {
  TAccountLoginForm form(Env(), prompts);
  form.PrepareForShow();
  form.show();
  EXPECT_EQ(S(form.windowTitle()), "Orvane Bulut Yedekleme");
  EXPECT_EQ(form.size(), QSize(420, 520));
  auto* user = In<QLineEdit>(form, "edtUser");
  auto* password = In<QLineEdit>(form, "edtPassword");
  auto* login = In<QPushButton>(form, "btnLogin");
  EXPECT_EQ(S(user->placeholderText()), "E-posta / Kullanıcı Adı *");
  EXPECT_EQ(S(password->placeholderText()), "Parola *");
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  password->setText("abc");
  EXPECT_EQ(S(password->displayText()), "***");
  EXPECT_EQ(S(login->text()), "Giriş Yap");
  EXPECT_TRUE(login->isDefault());
  EXPECT_EQ(S(In<QPushButton>(form, "btnCancel")->text()), "İptal");
  EXPECT_EQ(form.focusWidget(), user);  // nothing saved yet

  struct Case {
    const char* login;
    const char* password;
    const char* message;
  } failures[] = {
      {" ali ", "pa ss", "Hatali sifre."},
      {"yok", "x", "Hesap bulunamadi: yok"},
      {"  ", "x", "Kullanici adi/e-posta zorunlu."},
      {"ali", "", "Sifre zorunlu."},
  };
  for (const auto& c : failures) {
    prompts.Clear();
    Submit(form, c.login, c.password);
    EXPECT_EQ(S(In<QLabel>(form, "lblStatus")->text()), c.message) << c.login;
    ASSERT_EQ(prompts.Messages().size(), 1u) << c.login;
    EXPECT_EQ(prompts.Messages()[0].Kind, desktop::TMessageKind::Warning);
    EXPECT_EQ(prompts.LastMessage(), c.message);
    EXPECT_TRUE(login->isEnabled());
    EXPECT_TRUE(form.isVisible());
  }
  EXPECT_FALSE(HasSavedSignIn(Env()));

  Submit(form, " ali@firma.tr ", kPassword);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  TAccountCredentials saved;
  ASSERT_TRUE(LoadSavedSignIn(Env(), saved));
  EXPECT_EQ(saved.LoginName, "ali@firma.tr");
  EXPECT_EQ(saved.DisplayName, kCustomer);

  // The next start offers the saved login and waits for the password.
  TAccountLoginForm again(Env(), prompts);
  again.PrepareForShow();
  again.show();
  EXPECT_EQ(S(In<QLineEdit>(again, "edtUser")->text()), "ali@firma.tr");
  EXPECT_EQ(again.focusWidget(), In<QLineEdit>(again, "edtPassword"));
}

// Runs Step on the window shown next (polling, since it may be modal).
void WhenShown(const std::function<QWidget*()>& Find, const std::function<void(QWidget&)>& Step) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, Find, Step] {
    QWidget* window = Find();
    if (!window || !window->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    Step(*window);
  });
  timer->start();
}

TEST_F(SignInWindowTest, CancellingEndsTheProgramAndASignInOpensTheMainWindow) {
  const std::string log = JoinPath(Env().DataDir(), "log.txt");
  bool logStarted = false;
  WhenShown([] { return QApplication::activeModalWidget(); },
            [&](QWidget& window) {
              logStarted = FileExists(log) && test::ReadFile(log).find("Uygulama basladi") != std::string::npos;
              QTest::keyClick(&window, Qt::Key_Escape);
            });
  EXPECT_EQ(desktop::RunDesktopSession(Env(), prompts, false), 0);
  EXPECT_TRUE(logStarted) << "the log starts before the sign-in window";
  for (QWidget* window : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<desktop::TMainForm*>(window), nullptr);

  bool mainShown = false;
  WhenShown([] { return QApplication::activeModalWidget(); },
            [&](QWidget& window) { Submit(window, kLogin, kPassword); });
  WhenShown(
      [] {
        for (QWidget* window : QApplication::topLevelWidgets())
          if (qobject_cast<desktop::TMainForm*>(window)) return window;
        return static_cast<QWidget*>(nullptr);
      },
      [&](QWidget& window) {
        mainShown = true;
        static_cast<desktop::TMainForm&>(window).WaitForWorkers(20000);
        window.close();
      });
  EXPECT_EQ(desktop::RunDesktopSession(Env(), prompts, false), 0);
  EXPECT_TRUE(mainShown);
}

}  // namespace
}  // namespace calvora
