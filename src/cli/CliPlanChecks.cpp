#include "cli/CliPlanChecks.h"

#include "plans/uPlanValidation.h"

namespace calvora::cli {

// The task editor's own checks, so both refuse the same plans with the same words.
bool CheckPlanForSave(const TBackupPlan& Plan, std::string& Message) {
  Message = ValidatePlanForSave(Plan);
  return Message.empty();
}

}  // namespace calvora::cli
