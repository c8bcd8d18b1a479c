#pragma once
// The TDE baseline "tdebaseline.json" in the data folder: the certificate
// thumbprint last seen per server and database, so that a database that is
// suddenly encrypted, or re-encrypted with another certificate, stands out.
#include "foundation/Env.h"

#include <string>

namespace calvora {

// What CheckTdeBaseline found.
enum TTdeBaselineCode {
  kTdeFirstSeen = 0,        // no entry yet: recorded
  kTdeUnchanged = 1,        // same thumbprint: check time renewed
  kTdeNewlyEncrypted = 2,   // baseline "NONE", now a thumbprint: baseline kept
  kTdeCertificateChanged = 3,  // another thumbprint: baseline kept
  kTdeSwitchedOff = 4,      // baseline had a thumbprint, now "NONE": recorded
};

inline constexpr const char* kTdeNoEncryption = "NONE";

std::string TdeBaselinePath(const TEnv& Env);
// Trimmed, upper-cased; empty becomes "NONE".
std::string NormalizeTdeThumbprint(const std::string& Thumbprint);
// Compares the thumbprint with the baseline of (server, database) and
// updates the file as the code says. Previous: the stored thumbprint,
// normalised (empty when there was none). An unreadable file is logged and
// rebuilt; a file that cannot be written raises EAppError.
int CheckTdeBaseline(const TEnv& Env, const std::string& Server, const std::string& Database,
                     const std::string& Thumbprint, std::string& Previous);

}  // namespace calvora
