#pragma once
// File operations whose safety depends on the operating system.
#include <cstdint>
#include <string>
#include <string_view>

namespace calvora::platform {

// Writes `data` to a temporary file in the folder of `path`, flushes it to
// disk and renames it over `path`: readers and a crash see the old or the
// new content, never a part. Throws std::system_error on failure.
// `mode` applies to a newly created file; an existing file keeps its mode.
void ReplaceFileAtomically(const std::string& path, std::string_view data, unsigned mode = 0644);

// Same, but the file is always owner-only (0600): for files carrying secrets.
void WritePrivateFile(const std::string& path, std::string_view data);

// Appends `data` to `path` while holding an exclusive lock that keeps other
// writers out. A file that does not exist yet is created and `prefixIfNew`
// is written first. Returns false (and writes nothing) when the file cannot
// be opened or another writer holds it.
bool AppendExclusive(const std::string& path, std::string_view data, std::string_view prefixIfNew);

// Last-write time as seconds since the Unix epoch (with fraction); false when
// the file cannot be examined.
bool FileModifiedUnix(const std::string& path, double& seconds);
// Sets the last-write time (tests and tools).
bool SetFileModifiedUnix(const std::string& path, double seconds);

}  // namespace calvora::platform
