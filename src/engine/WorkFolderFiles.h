#pragma once
// Small file-system helpers of the engine: masks over one folder, file
// times on the system's clock, and a guard that runs clean-up at scope end.
#include "foundation/DateTime.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace calvora {

// Regular files directly in `folder` whose names match `mask` (letters
// ignoring case), sorted by name; empty when the folder cannot be read.
std::vector<std::string> FilesMatching(const std::string& folder, const std::string& mask);
// `text` as a mask part that matches only itself ("[", "*" and "?" can occur
// in file names).
std::string LiteralMask(const std::string& text);

// Last-write time of the file as a local date-time; false when unreadable.
bool FileModifiedLocal(const std::string& path, TDateTime& modified);

// Renames, replacing an existing target. Throws EFileError.
void RenameFileReplacing(const std::string& from, const std::string& to);
// Deletes the file; throws EFileError when it exists and stays.
void DeleteFileOrThrow(const std::string& path);

// Runs its action when the scope ends, also when an error leaves it.
class TScopeExit {
 public:
  explicit TScopeExit(std::function<void()> action) : action_(std::move(action)) {}
  ~TScopeExit() {
    if (action_) action_();
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  std::function<void()> action_;
};

}  // namespace calvora
