#pragma once
// What an interactive authorization needs from the desktop: opening the
// browser, reading the clipboard and modal messages. The desktop program
// supplies a real one; everywhere else the default does nothing.
#include <string>

namespace calvora {

class TUserPrompts {
 public:
  virtual ~TUserPrompts() = default;
  // Opens `url` in the default browser; false when it could not.
  virtual bool OpenUrl(const std::string& url);
  // The clipboard's text; empty when there is none.
  virtual std::string ReadClipboard();
  // Shows `text` in a modal message box and returns when it is closed.
  virtual void ShowMessage(const std::string& text);
};

// The do-nothing prompts (no browser, empty clipboard, no message boxes).
TUserPrompts& NoUserPrompts();

}  // namespace calvora
