#pragma once
// Everything a window asks of the person in front of it or of the desktop
// session: message boxes, yes/no questions, folder and file pickers,
// opening an address or a file, the clipboard, ending the program. Windows
// only talk to the user through this, so tests answer from a script and
// never block on a dialog. It also serves the browser and clipboard needs
// of an interactive Google authorization.
#include "google/UserPrompts.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class QWidget;

namespace calvora::desktop {

enum class TMessageKind { Plain, Information, Warning, Error };

class TDesktopPrompts : public TUserPrompts {
 public:
  // A modal message with an OK button; Parent may be null.
  virtual void Message(QWidget* Parent, TMessageKind Kind, const std::string& Text) = 0;
  // A confirmation with Yes and No; true for Yes.
  virtual bool Confirm(QWidget* Parent, const std::string& Text) = 0;
  // An existing folder, or empty when the user cancelled.
  virtual std::string PickFolder(QWidget* Parent, const std::string& Title) = 0;
  // An existing file, or empty when the user cancelled; Filter in Qt's form
  // ("Yedekler (*.bak *.rar)").
  virtual std::string PickFile(QWidget* Parent, const std::string& Title, const std::string& Filter) = 0;
  // A path to save to, starting with SuggestedName, DefaultExt (without
  // dot, may be empty) added to a name typed without one; asks before an
  // existing file is replaced; empty when the user cancelled.
  virtual std::string PickSaveFile(QWidget* Parent, const std::string& Title, const std::string& SuggestedName,
                                   const std::string& DefaultExt) = 0;
  // Opens a document or folder with the desktop's default program.
  virtual bool OpenFile(const std::string& Path) = 0;
  // Ends the program (after the current event).
  virtual void QuitApplication() = 0;

  // TUserPrompts: a plain message without owner.
  void ShowMessage(const std::string& Text) override { Message(nullptr, TMessageKind::Plain, Text); }
};

// The real dialogs, the desktop's browser and clipboard.
class TQtDesktopPrompts : public TDesktopPrompts {
 public:
  void Message(QWidget* Parent, TMessageKind Kind, const std::string& Text) override;
  bool Confirm(QWidget* Parent, const std::string& Text) override;
  std::string PickFolder(QWidget* Parent, const std::string& Title) override;
  std::string PickFile(QWidget* Parent, const std::string& Title, const std::string& Filter) override;
  std::string PickSaveFile(QWidget* Parent, const std::string& Title, const std::string& SuggestedName,
                           const std::string& DefaultExt) override;
  bool OpenUrl(const std::string& Url) override;
  bool OpenFile(const std::string& Path) override;
  std::string ReadClipboard() override;
  void QuitApplication() override;
};

// Answers from a script and records everything asked; for tests and for
// drivers that show windows without anyone in front of them. Safe to use
// from any thread.
class TScriptedPrompts : public TDesktopPrompts {
 public:
  struct TShown {
    TMessageKind Kind;
    std::string Text;
  };

  void Message(QWidget* Parent, TMessageKind Kind, const std::string& Text) override;
  // Takes the next scripted answer; No when none is left.
  bool Confirm(QWidget* Parent, const std::string& Text) override;
  // Takes the next scripted folder; empty (cancelled) when none is left.
  std::string PickFolder(QWidget* Parent, const std::string& Title) override;
  std::string PickFile(QWidget* Parent, const std::string& Title, const std::string& Filter) override;
  // Takes the next scripted folder answer as the path; records the title
  // among the folder titles and the suggested name.
  std::string PickSaveFile(QWidget* Parent, const std::string& Title, const std::string& SuggestedName,
                           const std::string& DefaultExt) override;
  bool OpenUrl(const std::string& Url) override;
  bool OpenFile(const std::string& Path) override;
  std::string ReadClipboard() override;
  void QuitApplication() override;

  void AnswerConfirm(bool Yes);
  void AnswerFolder(const std::string& Path);
  void SetClipboard(const std::string& Text);

  std::vector<TShown> Messages() const;
  // The text of the last message; empty when none was shown.
  std::string LastMessage() const;
  std::vector<std::string> Questions() const;
  std::vector<std::string> FolderTitles() const;
  std::vector<std::string> SaveSuggestions() const;  // "name|ext" per save picker
  std::vector<std::string> Opened() const;  // addresses and files, in order
  int QuitCount() const;
  void Clear();

 private:
  mutable std::mutex FLock;
  std::vector<TShown> FMessages;
  std::vector<std::string> FQuestions;
  std::vector<std::string> FFolderTitles;
  std::vector<std::string> FSaveSuggestions;
  std::vector<std::string> FOpened;
  std::deque<bool> FConfirmAnswers;
  std::deque<std::string> FFolderAnswers;
  std::string FClipboard;
  int FQuitCount = 0;
};

}  // namespace calvora::desktop
