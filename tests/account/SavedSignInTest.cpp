#include "AccountCloud.h"

#include "account/uFirebaseActiveAccount.h"
#include "foundation/AppError.h"
#include "foundation/TextFile.h"
#include "platform/file_lock.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <thread>

namespace calvora {
namespace {

using devcloud::DatabaseJson;

class SavedSignInTest : public test::AccountTest {
 protected:
  platform::ProcessResult Helper(std::vector<std::string> arguments) {
    platform::ProcessRequest request;
    request.program = test::BinaryDir() + "/tests/account/account_signin_helper";
    arguments.insert(arguments.begin() + 1, testEnv.ProgramDir());
    request.arguments = arguments;
    request.captureOutput = true;
    return platform::SystemProcessRunner().Run(request);
  }
};

TEST_F(SavedSignInTest, RoundTripWithAMemoryCopyOf60Seconds) {
  TAccountCredentials c;
  EXPECT_FALSE(HasSavedSignIn(Env()));
  EXPECT_FALSE(LoadSavedSignIn(Env(), c));

  SaveSignIn(Env(), TAccountCredentials{"ali.veli", "Gizli Şifre ", "Ali Veli Ltd"});
  EXPECT_TRUE(HasSavedSignIn(Env()));
  const std::string raw = test::ReadFile(SavedSignInPath(Env()));
  EXPECT_EQ(raw.find("Gizli"), std::string::npos);
  EXPECT_EQ(raw.find("ali.veli"), std::string::npos);

  // Another file content within 60 s: the memory copy answers.
  DeleteFileIfExists(SavedSignInPath(Env()));
  Clock().AdvanceSeconds(59);
  ASSERT_TRUE(LoadSavedSignIn(Env(), c));
  EXPECT_EQ(c.LoginName, "ali.veli");
  EXPECT_EQ(c.Password, "Gizli Şifre ");
  EXPECT_EQ(c.DisplayName, "Ali Veli Ltd");
  Clock().AdvanceSeconds(1);
  EXPECT_FALSE(LoadSavedSignIn(Env(), c));

  SaveSignIn(Env(), TAccountCredentials{"zeynep", "pw", ""});
  ClearSavedSignIn(Env());
  EXPECT_FALSE(HasSavedSignIn(Env()));
  EXPECT_FALSE(LoadSavedSignIn(Env(), c));
  ClearSavedSignIn(Env());  // nothing left to delete
}

TEST_F(SavedSignInTest, IncompleteOrDamagedFiles) {
  TAccountCredentials c;
  SaveSignIn(Env(), TAccountCredentials{"", "pw", "x"});
  Clock().AdvanceSeconds(60);
  EXPECT_FALSE(LoadSavedSignIn(Env(), c));  // an empty login is no sign-in

  test::WriteFile(SavedSignInPath(Env()), "not a sealed blob");
  try {
    LoadSavedSignIn(Env(), c);
    FAIL() << "a damaged saved sign-in must raise";
  } catch (const EAppError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Kayitli oturum bilgisi okunamadi: ", 0), 0u) << e.what();
  }

  // The active account reports it instead of raising.
  TFirebaseManagedAccount account;
  std::string error;
  EXPECT_FALSE(GetActiveAccount(Env(), account, error));
  EXPECT_EQ(error.rfind("Kayitli oturum bilgisi okunamadi: ", 0), 0u) << error;
  ClearSavedSignIn(Env());
  EXPECT_FALSE(GetActiveAccount(Env(), account, error));
  EXPECT_EQ(error, kNoSavedSignInMessage);
}

TEST_F(SavedSignInTest, PersistentFileErrorsRaiseAfterTenTries) {
  // A folder where the file should be: every write fails.
  ForceDirectories(SavedSignInPath(Env()) + "/blocked");
  EXPECT_THROW(SaveSignIn(Env(), TAccountCredentials{"a", "b", "c"}), EFileError);
  const std::vector<std::int64_t> expected(9, 150);
  EXPECT_EQ(Clock().Sleeps(), expected);
}

TEST_F(SavedSignInTest, ActiveAccountIsTheSavedLoginsRecord) {
  AddAccount("musteri7", DatabaseJson{{"LoginName", "derya"}, {"Email", "derya@firma.tr"}, {"Sifre", "pw"},
                                       {"Musteri", "Derya Tekstil"}});
  SignInAs("derya@firma.tr");
  TFirebaseManagedAccount account;
  std::string error;
  ASSERT_TRUE(GetActiveAccount(Env(), account, error)) << error;
  EXPECT_EQ(account.DisplayName, "Derya Tekstil");
  EXPECT_EQ(account.NodePath, "musteri7");

  SignInAs("silinmis");
  EXPECT_FALSE(GetActiveAccount(Env(), account, error));
  EXPECT_EQ(error, "Hesap bulunamadi: silinmis");
}

TEST_F(SavedSignInTest, SharedWithAnotherProgram) {
  SaveSignIn(Env(), TAccountCredentials{"ali", "pw 1", "Ali Ltd"});
  platform::ProcessResult loaded = Helper({"load"});
  ASSERT_EQ(loaded.exitCode, 0) << loaded.output;
  EXPECT_EQ(loaded.output, "ali|pw 1|Ali Ltd\n");

  ASSERT_EQ(Helper({"save", "veli", "pw2", "Veli AS"}).exitCode, 0);
  TAccountCredentials c;
  ASSERT_TRUE(LoadSavedSignIn(Env(), c));
  EXPECT_EQ(c.LoginName, "ali");  // this program's memory copy, for 60 s
  Clock().AdvanceSeconds(60);
  ASSERT_TRUE(LoadSavedSignIn(Env(), c));
  EXPECT_EQ(c.LoginName, "veli");
  EXPECT_EQ(c.DisplayName, "Veli AS");

  ClearSavedSignIn(Env());
  EXPECT_EQ(Helper({"load"}).output, "none\n");
}

TEST_F(SavedSignInTest, TwoProgramsWritingAtOnceNeverSeeATornRecord) {
  platform::ProcessResult a, b;
  std::thread first([&] { a = Helper({"churn", "birinci", "60"}); });
  std::thread second([&] { b = Helper({"churn", "ikinci", "60"}); });
  first.join();
  second.join();
  EXPECT_EQ(a.exitCode, 0) << a.output;
  EXPECT_EQ(b.exitCode, 0) << b.output;
  TAccountCredentials c;
  ASSERT_TRUE(LoadSavedSignIn(Env(), c));
  EXPECT_EQ(c.Password, c.LoginName + "-pw");
}

TEST_F(SavedSignInTest, WaitsForTheOtherProgramsLockThenGoesOn) {
  SaveSignIn(Env(), TAccountCredentials{"ali", "pw", "Ali"});
  // Another program holds the lock far longer than the 5 s wait: the save
  // proceeds without it instead of failing.
  platform::CrossProcessLock held(JoinPath(Env().DataDir(), "signin.lock"));
  ASSERT_TRUE(held.TryLockFor(0));
  platform::ProcessResult saved = Helper({"save", "veli", "pw2", "Veli"});
  EXPECT_EQ(saved.exitCode, 0) << saved.output;
  held.Unlock();
  EXPECT_EQ(Helper({"load"}).output, "veli|pw2|Veli\n");
}

}  // namespace
}  // namespace calvora
