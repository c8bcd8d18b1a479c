#include "cli/CliPlanChecks.h"

#include "foundation/TextUtil.h"

namespace calvora::cli {

// Interim: the name only, until the task editor's checks are shared.
bool CheckPlanForSave(const TBackupPlan& Plan, std::string& Message) {
  Message.clear();
  if (IsBlank(Plan.Name)) {
    Message = "Gorev adi zorunlu.";
    return false;
  }
  return true;
}

}  // namespace calvora::cli
