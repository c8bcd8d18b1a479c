#pragma once
// Starting records for a plan, shared by the desktop and the command line so
// a new plan starts the same wherever it is made.
#include "plans/uBackupPlans.h"

namespace calvora {

// Every member at its zero value (empty texts, false, 0).
TBackupPlan EmptyPlan();
// What a new plan starts from: an enabled periodic SQL plan every 60
// minutes, compressed, local copy removed after upload, two extra upload
// attempts, failed files cleaned after 24 hours.
TBackupPlan NewPlanDefaults();

}  // namespace calvora
