#include "google/UserPrompts.h"

namespace calvora {

bool TUserPrompts::OpenUrl(const std::string&) { return false; }
std::string TUserPrompts::ReadClipboard() { return std::string(); }
void TUserPrompts::ShowMessage(const std::string&) {}

TUserPrompts& NoUserPrompts() {
  static TUserPrompts none;
  return none;
}

}  // namespace calvora
