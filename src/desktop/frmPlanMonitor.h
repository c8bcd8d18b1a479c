#pragma once
// The plan monitor: every plan with its live state, upload status and
// recent events, re-read every 4 seconds, whoever runs the plans. For now a
// notice of what it will hold.
#include "foundation/Env.h"

#include <QDialog>

#include <string>

namespace calvora::desktop {

class TPlanMonitorForm : public QDialog {
  Q_OBJECT
 public:
  TPlanMonitorForm(TEnv& Env, const std::string& InitialPlanID, QWidget* Parent = nullptr);

  // A new non-modal window showing InitialPlanID (empty: none) in detail;
  // it frees itself when closed.
  static TPlanMonitorForm* OpenMonitor(TEnv& Env, const std::string& InitialPlanID);

  const std::string& SelectedPlanID() const { return FSelectedPlanID; }

 private:
  TEnv& FEnv;
  std::string FSelectedPlanID;
};

}  // namespace calvora::desktop
