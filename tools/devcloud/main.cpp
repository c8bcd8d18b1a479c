// calvora-devcloud: the local cloud emulator as a program, for the demo and
// for trying the programs against it by hand.
#include "DevCloud.h"
#include "GoogleState.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnSignal(int) { g_stop = true; }

void Usage() {
  std::cerr << "usage: calvora-devcloud [--port N] [--data DIR] [--client ID SECRET] [--quota BYTES]\n"
               "                        [--delay-ms MS] [--jitter-ms MS] [--rate-limit N] [--print-token]\n"
               "  --port N            listen on 127.0.0.1:N (default 8765; 0 picks a free port)\n"
               "  --data DIR          folder of the emulator's state (default ./devcloud-data)\n"
               "  --client ID SECRET  accept only this OAuth client (repeatable; default: any)\n"
               "  --quota BYTES       Drive storage limit (default: none)\n"
               "  --delay-ms MS       every request waits MS milliseconds first (default 0)\n"
               "  --jitter-ms MS      and up to MS more, at random (default 0)\n"
               "  --rate-limit N      Drive answers 429 past N requests a second (default: no limit)\n"
               "  --print-token       print a fresh access and refresh token as one JSON line\n";
}

}  // namespace

int main(int argc, char** argv) {
  int port = 8765;
  std::string dataDir = "devcloud-data";
  std::vector<std::pair<std::string, std::string>> clients;
  long long quota = -1;
  bool printToken = false;
  int delayMs = 0, jitterMs = 0, rateLimit = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&](const char* what) -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "missing value for " << what << "\n";
        std::exit(2);
      }
      return argv[++i];
    };
    try {
      if (arg == "--port") {
        port = std::stoi(next("--port"));
      } else if (arg == "--data") {
        dataDir = next("--data");
      } else if (arg == "--client") {
        std::string id = next("--client");
        clients.emplace_back(id, next("--client"));
      } else if (arg == "--quota") {
        quota = std::stoll(next("--quota"));
      } else if (arg == "--delay-ms") {
        delayMs = std::stoi(next("--delay-ms"));
      } else if (arg == "--jitter-ms") {
        jitterMs = std::stoi(next("--jitter-ms"));
      } else if (arg == "--rate-limit") {
        rateLimit = std::stoi(next("--rate-limit"));
      } else if (arg == "--print-token") {
        printToken = true;
      } else if (arg == "--help" || arg == "-h") {
        Usage();
        return 0;
      } else {
        std::cerr << "unknown option " << arg << "\n";
        Usage();
        return 2;
      }
    } catch (const std::exception&) {
      std::cerr << "invalid value for " << arg << "\n";
      return 2;
    }
  }

  std::error_code ec;
  std::filesystem::create_directories(dataDir, ec);
  calvora::devcloud::DevCloud cloud(std::filesystem::absolute(dataDir).string());
  for (const auto& [id, secret] : clients) cloud.Google().RegisterClient(id, secret);
  if (quota >= 0) cloud.Google().SetQuotaLimit(quota);
  cloud.SetRequestDelay(delayMs, jitterMs);
  cloud.SetRateLimit(rateLimit);
  if (!cloud.Start(port)) {
    std::cerr << "cannot listen on 127.0.0.1:" << port << "\n";
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  std::cout << cloud.BaseUrl() << std::endl;
  if (printToken) {
    auto tokens = cloud.Google().MintTokens();
    std::cout << "{\"access_token\":\"" << tokens.accessToken << "\",\"refresh_token\":\"" << tokens.refreshToken
              << "\",\"expires_in\":" << tokens.expiresIn << ",\"root_folder_id\":\""
              << cloud.Google().RootFolderId() << "\"}" << std::endl;
  }
  cloud.Google().FlushNow();
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  cloud.Stop();
  cloud.Google().FlushNow();
  return 0;
}
