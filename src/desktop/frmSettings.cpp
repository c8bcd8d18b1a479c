#include "desktop/frmSettings.h"

#include "desktop/DesktopPalette.h"
#include "desktop/DesktopText.h"
#include "desktop/DesktopWidgets.h"
#include "engine/uCloudBackup.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "foundation/uLogger.h"
#include "plans/uPlanValidation.h"
#include "runner/uBackupPlanRunner.h"
#include "service/uServiceManager.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace calvora::desktop {
namespace {

QLineEdit* Edit(QWidget* Parent, const char* Name, bool Masked = false) {
  auto* edit = new QLineEdit(Parent);
  edit->setObjectName(Name);
  if (Masked) edit->setEchoMode(QLineEdit::Password);
  return edit;
}

QPushButton* Button(QWidget* Parent, const char* Name, const char* Caption) {
  auto* button = new QPushButton(QString::fromUtf8(Caption), Parent);
  button->setObjectName(Name);
  return button;
}

QCheckBox* Check(QWidget* Parent, const char* Name, const char* Caption) {
  auto* box = new QCheckBox(QString::fromUtf8(Caption), Parent);
  box->setObjectName(Name);
  return box;
}

QLabel* Note(QWidget* Parent, const char* Text, const char* Name = nullptr) {
  QLabel* label = NewLabel(QString::fromUtf8(Text), Parent, Name, DesktopFont(9), palette::kMuted);
  label->setWordWrap(true);
  return label;
}


}  // namespace

TSettingsForm::TSettingsForm(TEnv& Env, TDesktopPrompts& Prompts, QWidget* Parent, TSettingsHooks Hooks)
    : QDialog(Parent), FEnv(Env), FPrompts(Prompts), FHooks(std::move(Hooks)) {
  setObjectName("SettingsForm");
  setWindowTitle("Ayarlar");
  QFont font = DesktopFont(9);
  font.setFamilies({"Tahoma", "DejaVu Sans"});
  setFont(font);
  setStyleSheet(DesktopStyleSheet());
  setFixedSize(720, 560);

  auto* column = new QVBoxLayout(this);
  pcSettings = new QTabWidget(this);
  pcSettings->setObjectName("pcSettings");
  pcSettings->addTab(BuildCloudTab(), "Bulut Yedekleme");
  pcSettings->addTab(BuildSqlTab(), "SQL Backup");
  pcSettings->addTab(BuildFirebirdTab(), "Firebird Backup");
  pcSettings->addTab(BuildPlansTab(), "Yedekleme Planlari");
  pcSettings->addTab(BuildServiceTab(), "Windows Service");
  column->addWidget(pcSettings, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  QPushButton* ok = Button(this, "btnOK", "Tamam");
  ok->setDefault(true);
  QPushButton* cancel = Button(this, "btnCancel", "İptal");
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  column->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &TSettingsForm::btnOKClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  TAppConfig& config = FEnv.Config();
  FLoadedClientID = config.GetClientID();
  FLoadedClientSecret = config.GetClientSecret();
  edClientID->setText(Q(FLoadedClientID));
  edClientSecret->setText(Q(FLoadedClientSecret));
  edRootFolderID->setText(Q(config.GetRootFolderID()));
  edAuthPort->setText(QString::number(config.GetAuthPort()));
  FPlanStore = std::make_unique<TBackupPlanStore>(FEnv);

  const TMSSQLBackupConfig sql = config.GetMSSQLBackupConfig();
  chkEnableBackup->setChecked(sql.Enabled);
  edServer->setText(Q(sql.Server));
  edUserName->setText(Q(sql.UserName));
  edPassword->setText(Q(sql.Password));
  edBackupDir->setText(Q(sql.BackupOutputDir));
  ApplySqlEnableRule();
  const TFirebirdBackupConfig fb = config.GetFirebirdBackupConfig();
  chkEnableFirebird->setChecked(fb.Enabled);
  edFBServer->setText(Q(fb.Server));
  edFBPort->setText(QString::number(fb.Port));
  edFBUserName->setText(Q(fb.UserName));
  edFBPassword->setText(Q(fb.Password));
  edFBGBackPath->setText(Q(fb.GBackPath));
  edFBBackupDir->setText(Q(fb.BackupOutputDir));
  ApplyFirebirdEnableRule();
  LoadPlanList();
  RefreshServiceState();
}

TSettingsForm::~TSettingsForm() = default;

// ---------------------------------------------------------------- tabs

QWidget* TSettingsForm::BuildCloudTab() {
  auto* tab = new QWidget;
  tab->setObjectName("FCloudTab");
  auto* form = new QFormLayout(tab);
  edClientID = Edit(tab, "edClientID");
  edClientSecret = Edit(tab, "edClientSecret", true);
  // Kept for the configuration's sake, never shown.
  edClientID->setVisible(false);
  edClientSecret->setVisible(false);
  edRootFolderID = Edit(tab, "edRootFolderID");
  form->addRow("Root Folder ID:", edRootFolderID);
  form->addRow(Note(tab, "Bulut hesap yetkilendirmeleri Firebase Hesap Yonetimi uygulamasindan merkezi olarak "
                         "yonetilir."));
  edAuthPort = Edit(tab, "edAuthPort");
  edAuthPort->setText("8080");
  form->addRow("Yetki Portu:", edAuthPort);
  QPushButton* openLog = Button(tab, "btnOpenLog", "Log Dosyasini Ac");
  form->addRow(openLog);
  connect(openLog, &QPushButton::clicked, this, &TSettingsForm::btnOpenLogClick);
  return tab;
}

QWidget* TSettingsForm::BuildSqlTab() {
  auto* tab = new QWidget;
  tab->setObjectName("FBackupTab");
  auto* form = new QFormLayout(tab);
  chkEnableBackup = Check(tab, "chkEnableBackup", "MSSQL backup ozelligini etkinlestir");
  form->addRow(chkEnableBackup);
  form->addRow(Note(tab, "Buradaki baglanti bilgisi SQL Server'a BACKUP DATABASE komutu gondermek icin kullanilir.",
                    "lblBackupInfo"));
  edServer = Edit(tab, "edServer");
  edUserName = Edit(tab, "edUserName");
  edPassword = Edit(tab, "edPassword", true);
  edBackupDir = Edit(tab, "edBackupDir");
  form->addRow("SQL Server Adresi (Sunucu\\Instance)", edServer);
  form->addRow("Kullanici Adi (sa vb.)", edUserName);
  form->addRow("Sifre", edPassword);
  form->addRow("Varsayilan Yedekleme Klasoru (Sunucu Tarafi)", edBackupDir);
  btnTestBackup = Button(tab, "btnTestBackup", "Baglantiyi Test Et");
  form->addRow(btnTestBackup);
  connect(chkEnableBackup, &QCheckBox::clicked, this, &TSettingsForm::ApplySqlEnableRule);
  connect(btnTestBackup, &QPushButton::clicked, this, &TSettingsForm::TestSqlClick);
  return tab;
}

QWidget* TSettingsForm::BuildFirebirdTab() {
  auto* tab = new QWidget;
  tab->setObjectName("FFirebirdTab");
  auto* form = new QFormLayout(tab);
  chkEnableFirebird = Check(tab, "chkEnableFirebird", "Firebird backup ozelligini etkinlestir");
  form->addRow(chkEnableFirebird);
  form->addRow(Note(tab, "gbak ile Firebird veritabani yedegi alir ve bulut yedekleme alanina yukler."));
  edFBServer = Edit(tab, "edFBServer");
  edFBServer->setPlaceholderText("localhost");
  edFBPort = Edit(tab, "edFBPort");
  edFBPort->setText("3050");
  edFBUserName = Edit(tab, "edFBUserName");
  edFBUserName->setPlaceholderText("SYSDBA");
  edFBPassword = Edit(tab, "edFBPassword", true);
  edFBGBackPath = Edit(tab, "edFBGBackPath");
  edFBGBackPath->setPlaceholderText("/usr/bin/gbak");
  btnBrowseFBGBackPath = Button(tab, "btnBrowseFBGBackPath", "Gozat...");
  edFBBackupDir = Edit(tab, "edFBBackupDir");
  form->addRow("Sunucu Adresi", edFBServer);
  form->addRow("Port", edFBPort);
  form->addRow("Kullanici Adi", edFBUserName);
  form->addRow("Sifre", edFBPassword);
  auto* gbak = new QHBoxLayout;
  gbak->addWidget(edFBGBackPath, 1);
  gbak->addWidget(btnBrowseFBGBackPath);
  form->addRow("gbak Yolu (bos birakilirsa otomatik aranir)", gbak);
  form->addRow("Varsayilan Yedekleme Klasoru", edFBBackupDir);
  btnTestFirebird = Button(tab, "btnTestFirebird", "Baglantiyi Test Et");
  form->addRow(btnTestFirebird);
  connect(chkEnableFirebird, &QCheckBox::clicked, this, &TSettingsForm::ApplyFirebirdEnableRule);
  connect(btnBrowseFBGBackPath, &QPushButton::clicked, this, &TSettingsForm::BrowseGbakClick);
  connect(btnTestFirebird, &QPushButton::clicked, this, &TSettingsForm::TestFirebirdClick);
  return tab;
}

QWidget* TSettingsForm::BuildPlansTab() {
  auto* tab = new QWidget;
  tab->setObjectName("FPlansTab");
  auto* row = new QHBoxLayout(tab);
  auto* left = new QVBoxLayout;
  lbPlans = new QListWidget(tab);
  lbPlans->setObjectName("lbPlans");
  left->addWidget(lbPlans, 1);
  QPushButton* add = Button(tab, "btnNewPlan", "Yeni SQL Yedekleme Plani Ekle");
  QPushButton* remove = Button(tab, "btnDeletePlan", "Secili Plani Sil");
  left->addWidget(add);
  left->addWidget(remove);
  row->addLayout(left, 2);
  auto* form = new QFormLayout;
  edPlanName = Edit(tab, "edPlanName");
  lblPlanDb = new QLabel(tab);
  lblPlanDb->setObjectName("lblPlanDb");
  edPlanDb = Edit(tab, "edPlanDb");
  edPlanDrive = Edit(tab, "edPlanDrive");
  edPlanInterval = Edit(tab, "edPlanInterval");
  edPlanRetention = Edit(tab, "edPlanRetention");
  form->addRow("Plan Adi:", edPlanName);
  form->addRow(lblPlanDb, edPlanDb);
  form->addRow("Bulut Alt Klasoru:", edPlanDrive);
  form->addRow("Aralik (dk):", edPlanInterval);
  form->addRow("Yerel saklama (gun):", edPlanRetention);
  chkPlanEnabled = Check(tab, "chkPlanEnabled", "Etkin");
  chkPlanRunOnStart = Check(tab, "chkPlanRunOnStart", "Servis acilisinda calistir");
  chkPlanCompression = Check(tab, "chkPlanCompression", "SQL Compression kullan");
  chkPlanDeleteLocal = Check(tab, "chkPlanDeleteLocal", "Yukleme sonrasi yereli sil");
  for (QCheckBox* box : {chkPlanEnabled, chkPlanRunOnStart, chkPlanCompression, chkPlanDeleteLocal}) form->addRow(box);
  auto* actions = new QHBoxLayout;
  QPushButton* save = Button(tab, "btnSavePlan", "Plani Kaydet");
  QPushButton* run = Button(tab, "btnRunPlan", "Simdi Calistir");
  actions->addWidget(save);
  actions->addWidget(run);
  actions->addStretch();
  form->addRow(actions);
  lblPlanLastRun = new QLabel(tab);
  lblPlanLastRun->setObjectName("lblPlanLastRun");
  lblPlanLastStatus = new QLabel(tab);
  lblPlanLastStatus->setObjectName("lblPlanLastStatus");
  lblPlanLastFile = new QLabel(tab);
  lblPlanLastFile->setObjectName("lblPlanLastFile");
  lblPlanLastFile->setWordWrap(true);
  memPlanMessage = new QPlainTextEdit(tab);
  memPlanMessage->setObjectName("memPlanMessage");
  memPlanMessage->setReadOnly(true);
  memPlanMessage->setFixedHeight(60);
  for (QWidget* w : std::initializer_list<QWidget*>{lblPlanLastRun, lblPlanLastStatus, lblPlanLastFile, memPlanMessage})
    form->addRow(w);
  row->addLayout(form, 3);
  connect(lbPlans, &QListWidget::currentRowChanged, this, &TSettingsForm::ShowPlan);
  connect(add, &QPushButton::clicked, this, [this] {
    ClearPlanForm();
    edPlanName->setFocus();
  });
  connect(remove, &QPushButton::clicked, this, &TSettingsForm::DeletePlanClick);
  connect(save, &QPushButton::clicked, this, &TSettingsForm::SavePlanClick);
  connect(run, &QPushButton::clicked, this, &TSettingsForm::RunPlanClick);
  return tab;
}

QWidget* TSettingsForm::BuildServiceTab() {
  auto* tab = new QWidget;
  tab->setObjectName("FServiceTab");
  auto* column = new QVBoxLayout(tab);
  auto* state = new QHBoxLayout;
  state->addWidget(new QLabel("Servis Durumu:", tab));
  lblServiceStatusValue = NewLabel("-", tab, "lblServiceStatusValue", DesktopFont(9, true), palette::kText);
  state->addWidget(lblServiceStatusValue);
  state->addStretch();
  column->addLayout(state);
  lblServicePath = new QLabel(Q("Servis dosyasi: " + GetServiceExePath(FEnv)), tab);
  lblServicePath->setObjectName("lblServicePath");
  lblServicePath->setWordWrap(true);
  column->addWidget(lblServicePath);
  auto* buttons = new QHBoxLayout;
  QPushButton* refresh = Button(tab, "btnServiceRefresh", "Durumu Yenile");
  QPushButton* install = Button(tab, "btnServiceInstall", "Servisi Kur");
  QPushButton* uninstall = Button(tab, "btnServiceUninstall", "Servisi Kaldir");
  QPushButton* start = Button(tab, "btnServiceStart", "Baslat");
  QPushButton* stop = Button(tab, "btnServiceStop", "Durdur");
  for (QPushButton* b : {refresh, install, uninstall, start, stop}) buttons->addWidget(b);
  buttons->addStretch();
  column->addLayout(buttons);
  column->addStretch();
  connect(refresh, &QPushButton::clicked, this, &TSettingsForm::RefreshServiceState);
  connect(install, &QPushButton::clicked, this, [this] {
    ServiceOperation([](TEnv& e, std::string& t) { return InstallBackupService(e, t); }, "Servis kuruldu: ");
  });
  connect(uninstall, &QPushButton::clicked, this,
          [this] { ServiceOperation(&UninstallBackupService, "Servis kaldirildi: "); });
  connect(start, &QPushButton::clicked, this, [this] { ServiceOperation(&StartBackupService, "Servis baslatildi: "); });
  connect(stop, &QPushButton::clicked, this, [this] { ServiceOperation(&StopBackupService, "Servis durduruldu: "); });
  return tab;
}

// ---------------------------------------------------------------- configuration

void TSettingsForm::btnOKClick() {
  TAppConfig& config = FEnv.Config();
  // The hidden client fields are written only when something changed them:
  // storing what was read would pin the built-in default into config.ini.
  if (S(edClientID->text()) != FLoadedClientID) config.SetClientID(S(edClientID->text()));
  if (S(edClientSecret->text()) != FLoadedClientSecret) config.SetClientSecret(S(edClientSecret->text()));
  config.SetRootFolderID(S(edRootFolderID->text()));
  config.SetAuthPort(PlanNumberOr(S(edAuthPort->text()), 8080));
  config.SetMSSQLBackupConfig(ReadSqlTab());
  config.SetFirebirdBackupConfig(ReadFirebirdTab());
  accept();
}

void TSettingsForm::btnOpenLogClick() { FPrompts.OpenFile(JoinPath(FEnv.Config().GetConfigDir(), "log.txt")); }

void TSettingsForm::ApplySqlEnableRule() {
  const bool on = chkEnableBackup->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{edServer, edUserName, edPassword, edBackupDir, btnTestBackup})
    w->setEnabled(on);
}

void TSettingsForm::ApplyFirebirdEnableRule() {
  const bool on = chkEnableFirebird->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{edFBServer, edFBPort, edFBUserName, edFBPassword, edFBGBackPath,
                                                    btnBrowseFBGBackPath, edFBBackupDir, btnTestFirebird})
    w->setEnabled(on);
}

TMSSQLBackupConfig TSettingsForm::ReadSqlTab() const {
  TMSSQLBackupConfig sql;
  sql.Enabled = chkEnableBackup->isChecked();
  sql.Server = Trim(S(edServer->text()));
  sql.UserName = Trim(S(edUserName->text()));
  sql.Password = S(edPassword->text());
  sql.BackupOutputDir = Trim(S(edBackupDir->text()));
  return sql;
}

TFirebirdBackupConfig TSettingsForm::ReadFirebirdTab() const {
  TFirebirdBackupConfig fb;
  fb.Enabled = chkEnableFirebird->isChecked();
  fb.Server = Trim(S(edFBServer->text()));
  if (fb.Server.empty()) fb.Server = "localhost";
  fb.Port = PlanNumberOr(S(edFBPort->text()), 3050);
  fb.UserName = Trim(S(edFBUserName->text()));
  if (fb.UserName.empty()) fb.UserName = "SYSDBA";
  fb.Password = S(edFBPassword->text());
  fb.GBackPath = Trim(S(edFBGBackPath->text()));
  fb.BackupOutputDir = Trim(S(edFBBackupDir->text()));
  return fb;
}

void TSettingsForm::TestSqlClick() {
  std::string text;
  bool ok = false;
  try {
    TCloudBackupService engine(ReadSqlTab(), FEnv);
    ok = engine.TestConnection(text);
  } catch (const std::exception& e) {
    text = e.what();
  }
  FPrompts.Message(this, ok ? TMessageKind::Information : TMessageKind::Error,
                   (ok ? "Baglanti basarili: " : "Baglanti hatasi: ") + text);
}

void TSettingsForm::TestFirebirdClick() {
  std::string text;
  bool ok = false;
  try {
    // Tested as shown; nothing is stored before "Tamam".
    TCloudBackupService engine(FEnv.Config().GetMSSQLBackupConfig(), FEnv);
    ok = engine.TestFirebirdConnection(ReadFirebirdTab(), text);
  } catch (const std::exception& e) {
    text = e.what();
  }
  FPrompts.Message(this, ok ? TMessageKind::Information : TMessageKind::Error,
                   (ok ? "Firebird baglanti basarili: " : "Firebird baglanti hatasi: ") + text);
}

void TSettingsForm::BrowseGbakClick() {
  const std::string current = Trim(S(edFBGBackPath->text()));
  const std::string start = current.empty() ? std::string(kGbakFolder) : ExtractFileDir(current);
  const std::string file = FPrompts.PickFile(this, "gbak dosyasini secin", "gbak (gbak);;Tum dosyalar (*)", start);
  if (!file.empty()) edFBGBackPath->setText(Q(file));
}

}  // namespace calvora::desktop
