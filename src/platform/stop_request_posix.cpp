#include "platform/stop_request.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace calvora::platform {
namespace {

// A self-pipe: the signal handler may only do async-signal-safe work, so it
// sets the flag and writes one byte that wakes the poll of the waiter.
std::atomic<bool> g_stop{false};
int g_pipe[2] = {-1, -1};
std::once_flag g_pipeOnce;

void OpenPipe() {
  std::call_once(g_pipeOnce, [] {
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
  });
}

void Wake() {
  if (g_pipe[1] >= 0) {
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
  }
}

void OnStopSignal(int) {
  g_stop.store(true);
  Wake();
}

void DrainPipe() {
  char buffer[64];
  while (g_pipe[0] >= 0 && read(g_pipe[0], buffer, sizeof buffer) > 0) {}
}

std::int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

void InstallStopSignalHandlers() {
  OpenPipe();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

void RequestStop() {
  OpenPipe();
  g_stop.store(true);
  Wake();
}

bool StopRequested() { return g_stop.load(); }

bool WaitForStopRequest(std::int64_t ms) {
  OpenPipe();
  const std::int64_t deadline = MonotonicMs() + (ms > 0 ? ms : 0);
  while (!g_stop.load()) {
    const std::int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    if (g_pipe[0] < 0) {
      // No pipe: fall back to short naps that still notice the flag.
      timespec nap{0, 50 * 1000000L};
      nanosleep(&nap, nullptr);
      continue;
    }
    pollfd fd{g_pipe[0], POLLIN, 0};
    const int slice = static_cast<int>(left > 1000000 ? 1000000 : left);
    if (poll(&fd, 1, slice) > 0) DrainPipe();
  }
  return true;
}

void ResetStopRequest() {
  OpenPipe();
  g_stop.store(false);
  DrainPipe();
}

}  // namespace calvora::platform
