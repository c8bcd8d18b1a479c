// The task editor's window: five numbered sections in one scrolling column
// over "Kaydet" and "Iptal".
#include "desktop/frmSQLTaskEdit.h"

#include "desktop/DesktopPalette.h"
#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace calvora::desktop {
namespace {

QLabel* SectionTitle(const char* Text, QWidget* Parent) {
  QLabel* title = NewLabel(QString::fromUtf8(Text), Parent, nullptr, DesktopFont(10, true), palette::kText);
  title->setContentsMargins(0, 10, 0, 2);
  return title;
}

QLabel* Caption(const char* Text, QWidget* Parent, const char* Name = nullptr) {
  return NewLabel(QString::fromUtf8(Text), Parent, Name, DesktopFont(9), palette::kText);
}

}  // namespace

TSQLTaskEditForm::TSQLTaskEditForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent)
    : QDialog(Parent), FEnv(Env), FPrompts(Prompts) {
  BuildControls();
  cmbScheduleType->setCurrentIndex(0);
  cmbBackupType->setCurrentIndex(0);
  ApplyTypeRules();
  ApplyScheduleRules();
  ControlsToPlan(FLoadedControls, false);
}

bool TSQLTaskEditForm::Execute(TEnv& Env, TDesktopPrompts& Prompts, TBackupPlan& Plan, QWidget* Parent) {
  TSQLTaskEditForm form(Env, Prompts, Parent);
  form.LoadPlan(Plan);
  form.setWindowState(Qt::WindowMaximized);
  if (form.exec() != QDialog::Accepted) return false;
  form.SaveToPlan(Plan);
  return true;
}

QLineEdit* TSQLTaskEditForm::NewEdit(const char* Name, QWidget* Parent) {
  auto* edit = new QLineEdit(Parent);
  edit->setObjectName(Name);
  return edit;
}

QCheckBox* TSQLTaskEditForm::NewCheck(const char* Name, const char* Caption, QWidget* Parent) {
  auto* box = new QCheckBox(QString::fromUtf8(Caption), Parent);
  box->setObjectName(Name);
  return box;
}

void TSQLTaskEditForm::BuildControls() {
  setObjectName("SQLTaskEditForm");
  setWindowTitle("Yedekleme Gorevi");
  setFont(DesktopFont(9));
  setStyleSheet(DesktopStyleSheet() + "QDialog, QScrollArea, QScrollArea > QWidget > QWidget { background: #FFFFFF; }");
  setMinimumSize(kMinWidth, kMinHeight);
  setSizeGripEnabled(true);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 12);
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName("scrollContent");
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidget(BuildContent());
  column->addWidget(scroll, 1);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(24, 0, 24, 0);
  buttons->addStretch();
  btnOK = new QPushButton("Kaydet", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnOK->setMinimumWidth(110);
  btnCancel = new QPushButton("Iptal", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setMinimumWidth(110);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  column->addLayout(buttons);

  connect(btnOK, &QPushButton::clicked, this, [this] {
    if (ValidateInput()) accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(cmbBackupType, &QComboBox::currentIndexChanged, this, &TSQLTaskEditForm::ApplyTypeRules);
  connect(chkDifferential, &QCheckBox::clicked, this, &TSQLTaskEditForm::ApplyTypeRules);
  connect(chkRarEncryption, &QCheckBox::clicked, this, &TSQLTaskEditForm::ApplyTypeRules);
  connect(cmbScheduleType, &QComboBox::currentIndexChanged, this, &TSQLTaskEditForm::ApplyScheduleRules);
  // Turning automatic runs on must unlock the controls of the chosen
  // schedule, or a weekly plan stored without them could not be saved.
  connect(chkAutoRun, &QCheckBox::toggled, this, &TSQLTaskEditForm::ApplyScheduleRules);
  connect(btnBrowse, &QPushButton::clicked, this, &TSQLTaskEditForm::BrowseClick);
  connect(btnLoadDatabases, &QPushButton::clicked, this, &TSQLTaskEditForm::LoadDatabasesClick);
  connect(btnSelectAllDatabases, &QPushButton::clicked, this, &TSQLTaskEditForm::SelectAllDatabasesClick);
}

QWidget* TSQLTaskEditForm::BuildContent() {
  auto* content = new QWidget;
  content->setObjectName("content");
  auto* column = new QVBoxLayout(content);
  column->setContentsMargins(24, 18, 24, 12);
  column->setSpacing(6);

  lblTitle = NewLabel("Yedekleme Gorevi Olustur", content, "lblTitle", DesktopFont(14, true), palette::kText);
  column->addWidget(lblTitle);
  lblHint = NewLabel(
      "SQL veritabani veya klasor kaynagini secip zamanlama ve bulut hedefini tek ekranda yonetin.", content,
      "lblHint", DesktopFont(9), palette::kMuted);
  lblHint->setWordWrap(true);
  column->addWidget(lblHint);

  // 1. task
  column->addWidget(SectionTitle("1. Gorev Bilgileri", content));
  auto* task = new QGridLayout;
  task->setHorizontalSpacing(12);
  task->setColumnMinimumWidth(0, 170);
  task->setColumnStretch(1, 1);
  edtName = NewEdit("edtName", content);
  task->addWidget(Caption("Gorev Adi", content), 0, 0);
  task->addWidget(edtName, 0, 1);
  lblBackupType = Caption("Backup Turu", content, "lblBackupType");
  cmbBackupType = new QComboBox(content);
  cmbBackupType->setObjectName("cmbBackupType");
  cmbBackupType->addItems({"SQL", "Klasor", "Firebird"});
  cmbBackupType->setMinimumWidth(200);
  task->addWidget(lblBackupType, 1, 0);
  task->addWidget(cmbBackupType, 1, 1, Qt::AlignLeft);
  memDescription = new QPlainTextEdit(content);
  memDescription->setObjectName("memDescription");
  memDescription->setFixedHeight(56);
  task->addWidget(Caption("Aciklama", content), 2, 0, Qt::AlignTop);
  task->addWidget(memDescription, 2, 1);
  column->addLayout(task);

  // 2. folder
  column->addWidget(SectionTitle("2. Kaynak / Yerel Klasor", content));
  auto* folder = new QGridLayout;
  folder->setHorizontalSpacing(12);
  folder->setColumnMinimumWidth(0, 170);
  folder->setColumnStretch(1, 1);
  lblTempDirInfo = Caption("", content, "lblTempDirInfo");
  lblTempDirInfo->setWordWrap(true);
  edtTempDir = NewEdit("edtTempDir", content);
  btnBrowse = new QPushButton("Gozat", content);
  btnBrowse->setObjectName("btnBrowse");
  folder->addWidget(lblTempDirInfo, 0, 0, 1, 3);
  folder->addWidget(edtTempDir, 1, 0, 1, 2);
  folder->addWidget(btnBrowse, 1, 2);
  column->addLayout(folder);

  // 3. source and target
  column->addWidget(SectionTitle("3. Kaynak ve Hedef", content));
  auto* source = new QGridLayout;
  source->setHorizontalSpacing(12);
  source->setColumnMinimumWidth(0, 170);
  source->setColumnStretch(1, 1);
  lblDataSource = Caption("", content, "lblDataSource");
  lblDataSource->setWordWrap(true);
  source->addWidget(lblDataSource, 0, 0, 1, 3);
  edtDatabase = NewEdit("edtDatabase", content);
  clbDatabases = new QListWidget(content);
  clbDatabases->setObjectName("clbDatabases");
  clbDatabases->setFixedHeight(120);
  source->addWidget(edtDatabase, 1, 0, 1, 2, Qt::AlignTop);
  source->addWidget(clbDatabases, 1, 0, 1, 2);
  auto* listButtons = new QVBoxLayout;
  btnLoadDatabases = new QPushButton("DB Listele", content);
  btnLoadDatabases->setObjectName("btnLoadDatabases");
  btnSelectAllDatabases = new QPushButton(QString::fromUtf8("Tümünü Seç"), content);
  btnSelectAllDatabases->setObjectName("btnSelectAllDatabases");
  listButtons->addWidget(btnLoadDatabases);
  listButtons->addWidget(btnSelectAllDatabases);
  listButtons->addStretch();
  source->addLayout(listButtons, 1, 2);
  edtDriveFolder = NewEdit("edtDriveFolder", content);
  source->addWidget(Caption("Bulut Alt Klasoru", content), 2, 0);
  source->addWidget(edtDriveFolder, 2, 1, 1, 2);
  lblReportEmails = Caption("Rapor Mail Alicilari", content, "lblReportEmails");
  edtReportEmails = NewEdit("edtReportEmails", content);
  edtReportEmails->setPlaceholderText("muhasebe@firma.com.tr; it@firma.com.tr");
  source->addWidget(lblReportEmails, 3, 0);
  source->addWidget(edtReportEmails, 3, 1, 1, 2);
  column->addLayout(source);

  // 4. settings
  column->addWidget(SectionTitle("4. İşlem Ayarları", content));
  auto* checks = new QHBoxLayout;
  checks->setSpacing(24);
  chkEnabled = NewCheck("chkEnabled", "Etkin", content);
  chkCompression = NewCheck("chkCompression", "SQL Sıkıştırma", content);
  chkDifferential = NewCheck("chkDifferential", "Fark Yedek", content);
  chkDeleteLocal = NewCheck("chkDeleteLocal", "Yereli Sil", content);
  chkRarEncryption = NewCheck("chkRarEncryption", "RAR Sıfrele", content);
  for (QCheckBox* box : {chkEnabled, chkCompression, chkDifferential, chkDeleteLocal, chkRarEncryption})
    checks->addWidget(box);
  checks->addStretch();
  column->addLayout(checks);

  auto* numbers = new QGridLayout;
  numbers->setHorizontalSpacing(12);
  numbers->setVerticalSpacing(6);
  for (int c : {1, 3, 5}) numbers->setColumnStretch(c, 1);
  lblFullInterval = Caption("Tam Yedek Periyodu:", content, "lblFullInterval");
  edtFullInterval = NewEdit("edtFullInterval", content);
  edtFullInterval->setText("30");
  cmbFullIntervalUnit = new QComboBox(content);
  cmbFullIntervalUnit->setObjectName("cmbFullIntervalUnit");
  cmbFullIntervalUnit->addItems({"Dakika", "Saat", QString::fromUtf8("Gün")});
  cmbFullIntervalUnit->setCurrentIndex(2);
  numbers->addWidget(lblFullInterval, 0, 0);
  numbers->addWidget(edtFullInterval, 0, 1);
  numbers->addWidget(cmbFullIntervalUnit, 0, 2, 1, 2, Qt::AlignLeft);
  lblRarPassword = Caption("RAR Sıfresi", content, "lblRarPassword");
  edtRarPassword = NewEdit("edtRarPassword", content);
  edtRarPassword->setEchoMode(QLineEdit::Password);
  lblRarSplitMB = Caption("Parca Boyutu (MB, 0=Kapalı)", content, "lblRarSplitMB");
  edtRarSplitMB = NewEdit("edtRarSplitMB", content);
  edtRarSplitMB->setText("1024");
  numbers->addWidget(lblRarPassword, 1, 0);
  numbers->addWidget(edtRarPassword, 1, 1);
  numbers->addWidget(lblRarSplitMB, 1, 2);
  numbers->addWidget(edtRarSplitMB, 1, 3);
  edtUploadRetry = NewEdit("edtUploadRetry", content);
  edtLocalRetention = NewEdit("edtLocalRetention", content);
  edtFailedRetention = NewEdit("edtFailedRetention", content);
  numbers->addWidget(Caption("Ek upload deneme sayisi", content), 2, 0);
  numbers->addWidget(edtUploadRetry, 2, 1);
  numbers->addWidget(Caption("Yerel saklama (gun)", content), 2, 2);
  numbers->addWidget(edtLocalRetention, 2, 3);
  numbers->addWidget(Caption("Temizlik suresi (saat)", content), 2, 4);
  numbers->addWidget(edtFailedRetention, 2, 5);
  chkCleanupFailed = NewCheck("chkCleanupFailed", "Basarisiz .bak dosyalarini temizle", content);
  numbers->addWidget(chkCleanupFailed, 3, 0, 1, 4);
  column->addLayout(numbers);

  // 5. schedule
  column->addWidget(SectionTitle("5. Zamanlama", content));
  auto* runs = new QHBoxLayout;
  runs->setSpacing(24);
  chkAutoRun = NewCheck("chkAutoRun", "Otomatik olarak calistir", content);
  chkRunOnStart = NewCheck("chkRunOnStart", "Servis acilisinda calistir", content);
  runs->addWidget(chkAutoRun);
  runs->addWidget(chkRunOnStart);
  runs->addStretch();
  column->addLayout(runs);
  auto* schedule = new QGridLayout;
  schedule->setHorizontalSpacing(12);
  for (int c : {1, 3, 5}) schedule->setColumnStretch(c, 1);
  cmbScheduleType = new QComboBox(content);
  cmbScheduleType->setObjectName("cmbScheduleType");
  cmbScheduleType->addItems({"Periyodik", "Gunluk", "Haftalik"});
  edtInterval = NewEdit("edtInterval", content);
  timePicker = new QTimeEdit(QTime(2, 0), content);
  timePicker->setObjectName("timePicker");
  timePicker->setDisplayFormat("HH:mm");
  schedule->addWidget(Caption("Zamanlama Tipi", content), 0, 0);
  schedule->addWidget(cmbScheduleType, 0, 1);
  schedule->addWidget(Caption("Periyot (dakika)", content), 0, 2);
  schedule->addWidget(edtInterval, 0, 3);
  schedule->addWidget(Caption("Calisma Saati", content), 0, 4);
  schedule->addWidget(timePicker, 0, 5);
  column->addLayout(schedule);
  auto* days = new QHBoxLayout;
  days->setSpacing(18);
  const char* dayNames[] = {"Paz", "Pzt", "Sal", "Car", "Per", "Cum", "Cmt"};
  for (int d = 0; d < 7; ++d) {
    const std::string name = "chkDay" + std::to_string(d + 1);
    FDayChecks.push_back(NewCheck(name.c_str(), dayNames[d], content));
    days->addWidget(FDayChecks.back());
  }
  days->addStretch();
  column->addLayout(days);
  column->addStretch();
  return content;
}

}  // namespace calvora::desktop
