#pragma once
// Error objects raised inside operations and caught at their boundary. Each
// carries the user-facing text; `ClassName` is what log lines show.
#include <exception>
#include <stdexcept>
#include <string>

namespace calvora {

class EAppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual const char* ClassName() const noexcept { return "EAppError"; }
};

// A file could not be opened, read or written.
class EFileError : public EAppError {
 public:
  using EAppError::EAppError;
  const char* ClassName() const noexcept override { return "EFileError"; }
};

// A value had the wrong shape (for instance a JSON array element that is not
// an object).
class EConvertError : public EAppError {
 public:
  using EAppError::EAppError;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// The name a log line shows for an error: its ClassName for the system's own
// errors, the runtime's type name otherwise.
std::string ErrorClassName(const std::exception& error);

}  // namespace calvora
