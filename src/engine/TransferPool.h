#pragma once
// A fixed set of worker threads for Drive transfers, each with a Drive
// client (and so a connection) of its own. The caller's thread stays the
// one place that decides, counts and reports: a job runs on a worker and
// gives back a finisher, which runs on the caller's thread inside Submit or
// Drain. With no worker clients every job runs at once on the caller's
// thread with the caller's client, as a one-at-a-time loop would.
#include "google/uGoogleDrive.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace calvora {

class TTransferPool {
 public:
  using TFinish = std::function<void()>;
  using TJob = std::function<TFinish(TGoogleDrive& Drive)>;

  TTransferPool(TGoogleDrive& CallerDrive, std::vector<std::unique_ptr<TGoogleDrive>> WorkerDrives);
  // Jobs not yet started are dropped; running ones are waited for, and
  // their finishers dropped (the caller is leaving, usually on an error).
  ~TTransferPool();
  TTransferPool(const TTransferPool&) = delete;
  TTransferPool& operator=(const TTransferPool&) = delete;

  // Runs the finishers of finished jobs, waits for a free worker and hands
  // the job over. A finisher's exception comes out here, and no job is
  // handed over after it.
  void Submit(TJob Job);
  // Waits for every job handed over and runs their finishers.
  void Drain();

 private:
  void Work(TGoogleDrive& Drive);
  void RunFinishers(std::unique_lock<std::mutex>& Lock);

  TGoogleDrive& FCallerDrive;
  std::vector<std::unique_ptr<TGoogleDrive>> FDrives;
  std::vector<std::thread> FThreads;
  std::mutex FLock;
  std::condition_variable FJobReady;
  std::condition_variable FJobDone;
  std::deque<TJob> FJobs;
  std::deque<TFinish> FFinished;
  size_t FBusy = 0;  // handed over and not yet finished
  bool FStop = false;
};

}  // namespace calvora
