// The restore window, offscreen: plan, backup, version and target chosen
// by object name, the restore run on its worker, and the final message;
// an existing file is replaced only when the question is answered Yes.
#include "../restore/RestoreTestSupport.h"

#include "desktop/frmRestore.h"
#include "engine/uRestoreMetadata.h"
#include "foundation/TextUtil.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <gmock/gmock.h>

#include <cstdlib>
#include <memory>

namespace calvora::test {
namespace {

using desktop::TRestoreForm;

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[24] = "restore_window_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const gQt = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

class RestoreWindowTest : public RestoreTest {
 protected:
  void SetUp() override {
    TBackupPlan plan;
    plan.ID = "{BBBBBBBB-2222-3333-4444-555555555555}";
    plan.Name = "Belgeler";
    plan.BackupType = "folder";
    plan.DriveSubFolder = "Belgeler";
    const std::string account = MakeEngine()->AccountRootFolderId();
    Google().AddFile("plans.json", Google().AddFolder("restoremeta", account), PlansExportJson({plan}));
    const std::string folder = Google().AddFolder("Belgeler", account);
    Google().AddRevision(Google().AddFile("rapor.txt", folder, "rapor ilk hali"), "rapor son hali");
    target = testEnv->Root() + "/hedef";
    form = std::make_unique<TRestoreForm>(Env(), prompts);
    form->show();
    form->LoadPlans();
  }

  template <typename T>
  T* Find(const char* name) {
    T* widget = form->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Next() { Find<QPushButton>("btnNext")->click(); }

  // Plan, then rapor.txt, then the older version, then the target.
  void WalkToTheOlderReport() {
    ASSERT_EQ(Find<QListWidget>("lstPlans")->count(), 1);
    Next();
    ASSERT_EQ(form->Step(), TRestoreForm::StepBackup);
    auto* backups = Find<QListWidget>("lstBackups");
    ASSERT_EQ(backups->count(), 2);  // the whole folder, rapor.txt
    EXPECT_EQ(backups->item(0)->text().toStdString(), "(Tüm klasör)");
    backups->setCurrentRow(1);
    Next();
    auto* versions = Find<QListWidget>("lstVersions");
    ASSERT_EQ(versions->count(), 2);
    EXPECT_TRUE(StartsWith(versions->item(0)->text().toStdString(), "Güncel"));
    versions->setCurrentRow(1);
    Next();
    ASSERT_EQ(form->Step(), TRestoreForm::StepTarget);
    Find<QLineEdit>("edtTarget")->setText(QString::fromStdString(target));
  }

  desktop::TScriptedPrompts prompts;
  std::unique_ptr<TRestoreForm> form;
  std::string target;
};

TEST_F(RestoreWindowTest, GuidedStepsRestoreTheChosenVersionAndSaySo) {
  WalkToTheOlderReport();
  Next();
  form->WaitForRestore();
  EXPECT_EQ(form->Step(), TRestoreForm::StepRestore);
  EXPECT_TRUE(form->LastResult().Success) << form->LastResult().Message;
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "rapor ilk hali");
  EXPECT_EQ(prompts.LastMessage(), "Geri yükleme tamamlandı.\r\n1 dosya geri yuklendi: " + target);
}

TEST_F(RestoreWindowTest, AnExistingFileIsReplacedOnlyAfterYes) {
  WriteFile(target + "/rapor.txt", "yerel");
  WalkToTheOlderReport();
  prompts.AnswerConfirm(false);
  Next();
  form->WaitForRestore();
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "yerel");
  EXPECT_THAT(prompts.LastMessage(), ::testing::StartsWith("Geri yükleme başarısız."));
  ASSERT_EQ(prompts.Questions().size(), 1u);
  EXPECT_THAT(prompts.Questions()[0], ::testing::EndsWith("Üzerine yazılsın mı?"));

  Find<QPushButton>("btnBack")->click();
  prompts.AnswerConfirm(true);
  Next();
  form->WaitForRestore();
  EXPECT_EQ(ReadFile(target + "/rapor.txt"), "rapor ilk hali");
  EXPECT_TRUE(form->LastResult().Success);
}

}  // namespace
}  // namespace calvora::test
