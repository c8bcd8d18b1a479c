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

// Same, but the file is always owner-only (0600): for files carrying secrets
// that only this account may read (script settings in the private temp folder).
void WritePrivateFile(const std::string& path, std::string_view data);

// Same, for machine-key-protected files in the data directory that both
// programs read and write (token caches, the saved sign-in): owner and group
// (0660). Their content opens only with the machine key, which the group
// holds; the mode lets the service and the desktop user read each other's.
void WriteSharedProtectedFile(const std::string& path, std::string_view data);

// Creates `path` as a new file (never over an existing file or link) with
// `data` and `mode`. False when the name is taken or the file cannot be
// written; a part written before a failure is removed.
bool CreateNewFile(const std::string& path, std::string_view data, unsigned mode);

// Creates the folder with its missing parents. A folder this call creates
// is shared by owner and group (setgid 2775, group "calvora" when it exists)
// so the service and the desktop user both write into it. False when the
// folder does not exist afterwards.
bool CreateSharedDirectory(const std::string& path);

// Appends `data` to `path` while holding an exclusive lock that keeps other
// writers out. A file that does not exist yet is created and `prefixIfNew`
// is written first. Returns false (and writes nothing) when the file cannot
// be opened or another writer holds it.
bool AppendExclusive(const std::string& path, std::string_view data, std::string_view prefixIfNew);

// The temporary name the writers above use beside `path`:
// "<path>.tmp-<process id>-<random digits>".
std::string TempNameBeside(const std::string& path);
// Removes the temporary files in `folder` (not below it) that writers left
// when they were cut off: names of TempNameBeside whose process no longer
// runs. The count removed.
int RemoveStaleTempFiles(const std::string& folder);

// Last-write time as seconds since the Unix epoch (with fraction); false when
// the file cannot be examined.
bool FileModifiedUnix(const std::string& path, double& seconds);
// Sets the last-write time (tests and tools).
bool SetFileModifiedUnix(const std::string& path, double seconds);

}  // namespace calvora::platform
