#pragma once
// Status block of the signed-in account's record: whether the service runs,
// how long it has been up, when it last reported and when a plan last ran.
// Writes merge these members and leave the rest of the record untouched.
#include "foundation/DateTime.h"
#include "foundation/Env.h"

#include <string>

namespace calvora {

// The status texts the service host reports.
inline constexpr const char kServiceStatusRunning[] = "Calisiyor";
inline constexpr const char kServiceStatusStopped[] = "Durduruldu";
inline constexpr const char kServiceStatusUpdating[] = "Guncelleniyor";

// Every operation returns false with a message instead of throwing.

// The trimmed LoginName of the saved sign-in.
bool GetServiceLoginName(TEnv& env, std::string& loginName, std::string& error);
// "%d gun %d saat %d dk" / "%d saat %d dk"; empty when startedAt is unset or
// later than now.
std::string FormatServiceActiveHours(TDateTime now, TDateTime startedAt);
// "ServisDurumu", "ServisAktifCalismaSaati", "ServisSonBildirim", "UpdatedAt".
bool WriteServiceStatus(TEnv& env, const std::string& loginName, const std::string& statusText,
                        std::string& error, TDateTime now, TDateTime startedAt);
// "SonPlanGerceklestirmeSaati", "UpdatedAt".
bool WriteLastPlanRun(TEnv& env, const std::string& loginName, std::string& error, TDateTime runTime);
// GetServiceLoginName, then WriteServiceStatus (the service host).
bool ReportServiceHeartbeat(TEnv& env, const std::string& statusText, std::string& error, TDateTime now,
                            TDateTime startedAt);
// GetServiceLoginName, then WriteLastPlanRun (the plan runner).
bool ReportLastPlanRun(TEnv& env, std::string& error, TDateTime runTime);

}  // namespace calvora
