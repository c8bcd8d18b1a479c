#pragma once
// The process-wide stop request of a long-running program: the termination
// signals (once the handlers are installed) or RequestStop set it, and a
// waiting thread wakes at once instead of sleeping out its interval.
#include <cstdint>

namespace calvora::platform {

// SIGTERM and SIGINT request the stop instead of ending the process.
void InstallStopSignalHandlers();
// Safe from any thread.
void RequestStop();
bool StopRequested();
// Sleeps up to `ms`; returns true as soon as a stop is (or already was)
// requested, false when the time ran out.
bool WaitForStopRequest(std::int64_t ms);
// Clears a request (a program that serves again, and tests).
void ResetStopRequest();

}  // namespace calvora::platform
