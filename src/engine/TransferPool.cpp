#include "engine/TransferPool.h"

#include <exception>

namespace calvora {
namespace {

// A job's exception travels to the caller's thread inside its finisher.
TTransferPool::TFinish RunJob(const TTransferPool::TJob& Job, TGoogleDrive& Drive) {
  try {
    return Job(Drive);
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    return [error] { std::rethrow_exception(error); };
  }
}

}  // namespace

TTransferPool::TTransferPool(TGoogleDrive& CallerDrive, std::vector<std::unique_ptr<TGoogleDrive>> WorkerDrives)
    : FCallerDrive(CallerDrive), FDrives(std::move(WorkerDrives)) {
  for (auto& drive : FDrives) FThreads.emplace_back([this, client = drive.get()] { Work(*client); });
}

TTransferPool::~TTransferPool() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
    FJobs.clear();
  }
  FJobReady.notify_all();
  for (std::thread& thread : FThreads) thread.join();
}

void TTransferPool::Submit(TJob Job) {
  if (FThreads.empty()) {
    TFinish finish = RunJob(Job, FCallerDrive);
    if (finish) finish();
    return;
  }
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    RunFinishers(lock);
    if (FBusy < FThreads.size()) break;
    FJobDone.wait(lock, [this] { return !FFinished.empty(); });
  }
  FJobs.push_back(std::move(Job));
  ++FBusy;
  lock.unlock();
  FJobReady.notify_one();
}

void TTransferPool::Drain() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    RunFinishers(lock);
    if (FBusy == 0) return;
    FJobDone.wait(lock, [this] { return !FFinished.empty(); });
  }
}

void TTransferPool::RunFinishers(std::unique_lock<std::mutex>& Lock) {
  while (!FFinished.empty()) {
    TFinish finish = std::move(FFinished.front());
    FFinished.pop_front();
    Lock.unlock();
    if (finish) finish();  // an exception leaves the lock released, as the caller's unique_lock knows
    Lock.lock();
  }
}

void TTransferPool::Work(TGoogleDrive& Drive) {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FJobReady.wait(lock, [this] { return FStop || !FJobs.empty(); });
    if (FJobs.empty()) return;
    TJob job = std::move(FJobs.front());
    FJobs.pop_front();
    lock.unlock();
    TFinish finish = RunJob(job, Drive);
    lock.lock();
    FFinished.push_back(std::move(finish));
    --FBusy;
    FJobDone.notify_one();
  }
}

}  // namespace calvora
