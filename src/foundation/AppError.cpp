#include "foundation/AppError.h"

#include <cxxabi.h>
#include <memory>
#include <typeinfo>

namespace calvora {

std::string ErrorClassName(const std::exception& error) {
  if (auto app = dynamic_cast<const EAppError*>(&error)) return app->ClassName();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(typeid(error).name());
}

}  // namespace calvora
