#pragma once
// The checks a plan passes before it is saved from the command line.
#include "plans/uBackupPlans.h"

#include <string>

namespace calvora::cli {

// False with the message of the first check that fails.
bool CheckPlanForSave(const TBackupPlan& Plan, std::string& Message);

}  // namespace calvora::cli
