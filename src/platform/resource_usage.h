#pragma once
// Peak memory figures of this process and of the programs it started
// (benchmarks report them).
namespace calvora::platform {

// Peak resident set of this process in KiB; -1 when unknown.
long PeakResidentKiB();
// Largest peak resident set among the finished child processes this
// process waited for (and their own waited-for children), in KiB. It may
// include this process's own peak at the time a child was started.
long PeakChildResidentKiB();

}  // namespace calvora::platform
