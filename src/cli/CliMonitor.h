#pragma once
// The plan monitor's reading of a plan and its activity record, without a
// window: the state and upload texts, the relative and absolute times and
// the detail rows.
#include "foundation/DateTime.h"
#include "plans/uBackupPlans.h"
#include "plans/uPlanActivityStore.h"

#include <string>
#include <utility>
#include <vector>

namespace calvora::cli {

// "Calisiyor", "Tamam", "Hata" or "Hazir".
std::string ActivityStateText(const TPlanActivitySnapshot& Activity);
// "Tamamlandi", "Suruyor", "Hata", "Bekleniyor" or "Yok".
std::string UploadStatusText(const TBackupPlan& Plan, const TPlanActivitySnapshot& Activity);
// "-", "simdi", "5 dk", "2 sa", "3 gun".
std::string RelativeTimeText(TDateTime Value, TDateTime Now);
// "-" or the locale's date-time text.
std::string AbsoluteTimeText(TDateTime Value);
// The plan list's state: the record's, else "Hazir"/"Pasif".
std::string PlanListState(const TBackupPlan& Plan, const TPlanActivitySnapshot* Activity);
// The moment the last run finished: the record's, else the plan's.
TDateTime LastFinishedAt(const TBackupPlan& Plan, const TPlanActivitySnapshot& Activity);
// The monitor's "Plan Detayi" rows for one plan.
std::vector<std::pair<std::string, std::string>> MonitorDetailRows(const TBackupPlan& Plan,
                                                                    const TPlanActivitySnapshot& Activity,
                                                                    const std::string& ServiceText);

}  // namespace calvora::cli
