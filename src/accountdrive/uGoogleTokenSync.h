#pragma once
// Copies the central Google token assigned to the signed-in customer into
// the local Google token cache, or removes that cache when the customer has
// no usable default token.
#include "foundation/Env.h"

#include <string>

namespace calvora {

// False with the error text (no saved sign-in, a failed directory read);
// an error while writing the token cache file is raised (EAppError).
bool SyncCentralGoogleToken(TEnv& env, std::string& Error);

}  // namespace calvora
