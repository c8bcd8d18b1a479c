#pragma once
// Peak memory figures of this process and of a program it runs (benchmarks
// report them).
#include <string>
#include <vector>

namespace calvora::platform {

// Peak resident set of this process in KiB; -1 when unknown.
long PeakResidentKiB();

// The outcome of RunMeasuringPeak.
struct ChildPeak {
  bool started = false;
  int exitCode = -1;    // 128 + signal when the program was killed
  long peakKiB = -1;    // the program's own peak resident set
  long helperKiB = -1;  // this process's resident set when it forked
  std::string error;
};

// Runs the program (looked up on PATH) as a forked child with this
// process's standard streams and environment, waits for it and reads that
// one child's peak resident set. A spawned child would share this address
// space until it executes, and the system carries that address space's peak
// into the child's figure; a forked one carries only what of this process
// the fork copies, at most helperKiB. Call it from a small process (the
// benchmarks run it in a helper of their own) so that is a few MiB.
ChildPeak RunMeasuringPeak(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace calvora::platform
