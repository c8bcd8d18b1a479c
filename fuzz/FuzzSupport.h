#pragma once
// Shared by the fuzz targets: a scratch folder with its own machine key
// (removed when the process ends), an environment on it, and the checks
// that stop a run with a message when a property does not hold.
#include "foundation/Env.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace calvora::fuzz {

// Created on first use, on a memory file system when there is one;
// CALVORA_MACHINE_KEY_FILE points into it.
const std::string& ScratchDir();
// A whole environment (data directory, private temporary folder) below the
// scratch folder, made once per process.
TEnv& ScratchEnv();

[[noreturn]] void Fail(const std::string& what);
inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

std::string Bytes(const uint8_t* data, size_t size);
// The input cut at NUL bytes into at most `count` parts (the last keeps the
// rest); missing parts are empty.
std::vector<std::string> Parts(const std::string& input, size_t count);

}  // namespace calvora::fuzz
