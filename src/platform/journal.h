#pragma once
// Standard error as a second home of the log: under systemd it is a stream
// into the system journal.
#include <string_view>

namespace calvora::platform {

// True when standard error is the journal stream that systemd set up for
// this process ($JOURNAL_STREAM names its device and inode).
bool StandardErrorIsJournal();
// Writes all of `text` to standard error; errors are ignored.
void WriteStandardError(std::string_view text);

}  // namespace calvora::platform
