#include "desktop/DesktopPrompts.h"

#include "desktop/DesktopText.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace calvora::desktop {

// ---------------------------------------------------------------- Qt dialogs

namespace {

QMessageBox::Icon IconOf(TMessageKind Kind) {
  switch (Kind) {
    case TMessageKind::Information:
      return QMessageBox::Information;
    case TMessageKind::Warning:
      return QMessageBox::Warning;
    case TMessageKind::Error:
      return QMessageBox::Critical;
    case TMessageKind::Plain:
      break;
  }
  return QMessageBox::NoIcon;
}

const char* CaptionOf(TMessageKind Kind) {
  switch (Kind) {
    case TMessageKind::Information:
      return "Bilgi";
    case TMessageKind::Warning:
      return "Uyarı";
    case TMessageKind::Error:
      return "Hata";
    case TMessageKind::Plain:
      break;
  }
  return kApplicationTitle;
}

}  // namespace

void TQtDesktopPrompts::Message(QWidget* Parent, TMessageKind Kind, const std::string& Text) {
  QMessageBox box(IconOf(Kind), QString::fromUtf8(CaptionOf(Kind)), Q(Text), QMessageBox::Ok, Parent);
  box.button(QMessageBox::Ok)->setText("Tamam");
  box.exec();
}

bool TQtDesktopPrompts::Confirm(QWidget* Parent, const std::string& Text) {
  QMessageBox box(QMessageBox::Question, "Onay", Q(Text), QMessageBox::Yes | QMessageBox::No, Parent);
  box.button(QMessageBox::Yes)->setText("Evet");
  box.button(QMessageBox::No)->setText(QString::fromUtf8("Hayır"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::string TQtDesktopPrompts::PickFolder(QWidget* Parent, const std::string& Title) {
  return S(QFileDialog::getExistingDirectory(Parent, Q(Title), QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks));
}

std::string TQtDesktopPrompts::PickFile(QWidget* Parent, const std::string& Title, const std::string& Filter) {
  return S(QFileDialog::getOpenFileName(Parent, Q(Title), QString(), Q(Filter)));
}

std::string TQtDesktopPrompts::PickSaveFile(QWidget* Parent, const std::string& Title,
                                            const std::string& SuggestedName, const std::string& DefaultExt) {
  QFileDialog dialog(Parent, Q(Title));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontResolveSymlinks);
  if (!DefaultExt.empty()) dialog.setDefaultSuffix(Q(DefaultExt));
  dialog.selectFile(Q(SuggestedName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
  return S(dialog.selectedFiles().front());
}

bool TQtDesktopPrompts::OpenUrl(const std::string& Url) { return QDesktopServices::openUrl(QUrl(Q(Url))); }

bool TQtDesktopPrompts::OpenFile(const std::string& Path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(Path)));
}

std::string TQtDesktopPrompts::ReadClipboard() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard ? S(clipboard->text()) : std::string();
}

void TQtDesktopPrompts::QuitApplication() { QApplication::quit(); }

// ---------------------------------------------------------------- scripted

void TScriptedPrompts::Message(QWidget*, TMessageKind Kind, const std::string& Text) {
  std::lock_guard<std::mutex> guard(FLock);
  FMessages.push_back({Kind, Text});
}

bool TScriptedPrompts::Confirm(QWidget*, const std::string& Text) {
  std::lock_guard<std::mutex> guard(FLock);
  FQuestions.push_back(Text);
  if (FConfirmAnswers.empty()) return false;
  const bool answer = FConfirmAnswers.front();
  FConfirmAnswers.pop_front();
  return answer;
}

std::string TScriptedPrompts::PickFolder(QWidget*, const std::string& Title) {
  std::lock_guard<std::mutex> guard(FLock);
  FFolderTitles.push_back(Title);
  if (FFolderAnswers.empty()) return std::string();
  std::string folder = FFolderAnswers.front();
  FFolderAnswers.pop_front();
  return folder;
}

std::string TScriptedPrompts::PickFile(QWidget* Parent, const std::string& Title, const std::string&) {
  return PickFolder(Parent, Title);
}

std::string TScriptedPrompts::PickSaveFile(QWidget* Parent, const std::string& Title,
                                           const std::string& SuggestedName, const std::string& DefaultExt) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FSaveSuggestions.push_back(SuggestedName + "|" + DefaultExt);
  }
  return PickFolder(Parent, Title);
}

bool TScriptedPrompts::OpenUrl(const std::string& Url) {
  std::lock_guard<std::mutex> guard(FLock);
  FOpened.push_back(Url);
  return true;
}

bool TScriptedPrompts::OpenFile(const std::string& Path) { return OpenUrl(Path); }

std::string TScriptedPrompts::ReadClipboard() {
  std::lock_guard<std::mutex> guard(FLock);
  return FClipboard;
}

void TScriptedPrompts::QuitApplication() {
  std::lock_guard<std::mutex> guard(FLock);
  ++FQuitCount;
}

void TScriptedPrompts::AnswerConfirm(bool Yes) {
  std::lock_guard<std::mutex> guard(FLock);
  FConfirmAnswers.push_back(Yes);
}

void TScriptedPrompts::AnswerFolder(const std::string& Path) {
  std::lock_guard<std::mutex> guard(FLock);
  FFolderAnswers.push_back(Path);
}

void TScriptedPrompts::SetClipboard(const std::string& Text) {
  std::lock_guard<std::mutex> guard(FLock);
  FClipboard = Text;
}

std::vector<TScriptedPrompts::TShown> TScriptedPrompts::Messages() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FMessages;
}

std::string TScriptedPrompts::LastMessage() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FMessages.empty() ? std::string() : FMessages.back().Text;
}

std::vector<std::string> TScriptedPrompts::Questions() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FQuestions;
}

std::vector<std::string> TScriptedPrompts::FolderTitles() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FFolderTitles;
}

std::vector<std::string> TScriptedPrompts::SaveSuggestions() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FSaveSuggestions;
}

std::vector<std::string> TScriptedPrompts::Opened() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FOpened;
}

int TScriptedPrompts::QuitCount() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FQuitCount;
}

void TScriptedPrompts::Clear() {
  std::lock_guard<std::mutex> guard(FLock);
  FMessages.clear();
  FQuestions.clear();
  FFolderTitles.clear();
  FSaveSuggestions.clear();
  FOpened.clear();
  FQuitCount = 0;
}

}  // namespace calvora::desktop
