#pragma once
// The fields of a plan as the command line names them (the plan file's
// member names, any case, or their "--kebab-case" option form), read from
// text and shown as text.
#include "foundation/JsonText.h"
#include "plans/uBackupPlans.h"

#include <string>
#include <utility>
#include <vector>

namespace calvora::cli {

enum class TFieldKind { Text, Bool, Int };

struct TPlanField {
  const char* Name;  // the plan file's member name
  TFieldKind Kind;
  std::string TBackupPlan::*Text = nullptr;
  bool TBackupPlan::*Bool = nullptr;
  int TBackupPlan::*Int = nullptr;
};

// Every field a user sets; the run fields and the password are not among them.
const std::vector<TPlanField>& EditablePlanFields();
// "RarSplitVolumeMB" -> "rar-split-volume-mb".
std::string FieldOptionName(const std::string& FieldName);
// By member name (any case) or option name; null when there is none.
const TPlanField* FindPlanField(const std::string& Name);
// ECliError with the reason when the text does not fit the field. Schedule
// words, times and weekday lists are stored the way the task editor does.
void SetPlanField(TBackupPlan& Plan, const TPlanField& Field, const std::string& Value);
// "FIELD=VALUE".
void ApplyAssignment(TBackupPlan& Plan, const std::string& Assignment);

// What the desktop's "+ Yeni" starts a plan with, with the full-backup
// period the editor would save.
TBackupPlan NewCliPlan();
// What the task editor keeps of a plan on saving, by its type: a folder plan
// has no database, work folder, archive or recipients; a Firebird plan no
// source folder, compression, archive or differential; the archive password
// only goes with encryption.
void ApplyPlanTypeRules(TBackupPlan& Plan);

// "Gunluk hh:nn", "Haftalik hh:nn", "%d dk", "Manuel".
std::string PlanScheduleText(const TBackupPlan& Plan);
// Every field with its text; the password only as set or not.
std::vector<std::pair<std::string, std::string>> PlanFieldRows(const TBackupPlan& Plan);
// The plan file's object without the password envelope and, when asked,
// without the run fields: what export writes and show --json prints.
TJson PlanExportJson(const TBackupPlan& Plan, bool WithRunFields);

}  // namespace calvora::cli
