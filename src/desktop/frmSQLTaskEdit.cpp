#include "desktop/frmSQLTaskEdit.h"

#include "desktop/DesktopPalette.h"
#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"
#include "foundation/TextUtil.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace calvora::desktop {

TSQLTaskEditForm::TSQLTaskEditForm(TEnv& Env, QWidget* Parent) : QDialog(Parent), FEnv(Env) { BuildControls(); }

bool TSQLTaskEditForm::Execute(TEnv& Env, TBackupPlan& Plan, QWidget* Parent) {
  TSQLTaskEditForm form(Env, Parent);
  form.LoadPlan(Plan);
  if (form.exec() != QDialog::Accepted) return false;
  form.SavePlan(Plan);
  return true;
}

void TSQLTaskEditForm::BuildControls() {
  setObjectName("SQLTaskEditForm");
  setWindowTitle("Yedekleme Gorevi");
  setFont(DesktopFont(10));
  setStyleSheet(DesktopStyleSheet());
  setMinimumWidth(560);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(24, 20, 24, 16);
  column->setSpacing(10);
  column->addWidget(NewLabel("Yedekleme Gorevi Olustur", this, "lblTitle", DesktopFont(13, true), palette::kText));
  QLabel* hint = NewLabel(
      "SQL veritabani veya klasor kaynagini secip zamanlama ve bulut hedefini tek ekranda "
      "yonetin.",
      this, "lblHint", DesktopFont(9), palette::kMuted);
  hint->setWordWrap(true);
  column->addWidget(hint);

  auto* form = new QFormLayout;
  form->setHorizontalSpacing(12);
  form->setVerticalSpacing(8);
  edtName = new QLineEdit(this);
  edtName->setObjectName("edtName");
  form->addRow("Gorev Adi", edtName);
  cmbBackupType = new QComboBox(this);
  cmbBackupType->setObjectName("cmbBackupType");
  cmbBackupType->addItems({"SQL", "Klasor", "Firebird"});
  form->addRow("Backup Turu", cmbBackupType);
  lblDataSource = new QLabel(this);
  lblDataSource->setObjectName("lblDataSource");
  edtDatabase = new QLineEdit(this);
  edtDatabase->setObjectName("edtDatabase");
  form->addRow(lblDataSource, edtDatabase);
  edtDriveFolder = new QLineEdit(this);
  edtDriveFolder->setObjectName("edtDriveFolder");
  form->addRow("Bulut Alt Klasoru", edtDriveFolder);
  column->addLayout(form);

  lblError = NewLabel("", this, "lblError", DesktopFont(9, true), palette::kError);
  column->addWidget(lblError);
  column->addStretch();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* cancel = new QPushButton("İptal", this);
  cancel->setObjectName("btnCancel");
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* save = new QPushButton("Kaydet", this);
  save->setObjectName("btnSave");
  save->setDefault(true);
  connect(save, &QPushButton::clicked, this, [this] {
    if (ValidateInput()) accept();
  });
  buttons->addWidget(cancel);
  buttons->addWidget(save);
  column->addLayout(buttons);

  connect(cmbBackupType, &QComboBox::currentIndexChanged, this, &TSQLTaskEditForm::BackupTypeChanged);
  BackupTypeChanged();
}

std::string TSQLTaskEditForm::SelectedBackupType() const {
  switch (cmbBackupType->currentIndex()) {
    case 1:
      return "folder";
    case 2:
      return "firebird";
    default:
      return "sql";
  }
}

void TSQLTaskEditForm::BackupTypeChanged() {
  const std::string type = SelectedBackupType();
  if (type == "folder") {
    lblDataSource->setText("Kaynak Klasor");
    edtDatabase->setPlaceholderText("/yedeklenecek/klasor");
  } else if (type == "firebird") {
    lblDataSource->setText("Firebird Veritabani");
    edtDatabase->setPlaceholderText("Veritabani dosyasi (.fdb) veya klasoru");
  } else {
    lblDataSource->setText("Veritabanlari");
    edtDatabase->setPlaceholderText("Veritabani adlari, ; ile ayrilmis");
  }
}

void TSQLTaskEditForm::LoadPlan(const TBackupPlan& Plan) {
  edtName->setText(Q(Plan.Name));
  const std::string type = NormalizeBackupType(Plan.BackupType);
  cmbBackupType->setCurrentIndex(type == "folder" ? 1 : type == "firebird" ? 2 : 0);
  edtDatabase->setText(Q(type == "folder" ? Plan.SourceFolder : Plan.DatabaseName));
  edtDriveFolder->setText(Q(Plan.DriveSubFolder));
}

bool TSQLTaskEditForm::ValidateInput() {
  if (IsBlank(S(edtName->text()))) {
    lblError->setText("Gorev adi zorunlu.");
    edtName->setFocus();
    return false;
  }
  if (IsBlank(S(edtDatabase->text()))) {
    lblError->setText("Kaynak zorunlu.");
    edtDatabase->setFocus();
    return false;
  }
  lblError->clear();
  return true;
}

void TSQLTaskEditForm::SavePlan(TBackupPlan& Plan) const {
  Plan.Name = Trim(S(edtName->text()));
  Plan.BackupType = SelectedBackupType();
  const std::string source = Trim(S(edtDatabase->text()));
  if (Plan.BackupType == "folder") {
    Plan.SourceFolder = source;
    Plan.DatabaseName.clear();
  } else {
    Plan.DatabaseName = source;
    Plan.SourceFolder.clear();
  }
  Plan.DriveSubFolder = Trim(S(edtDriveFolder->text()));
}

}  // namespace calvora::desktop
