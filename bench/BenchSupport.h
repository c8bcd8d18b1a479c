// Small pieces every benchmark program uses.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

namespace calvora::bench {

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// "--name value" pairs from argv[first] on.
inline std::map<std::string, std::string> Options(int argc, char** argv, int first) {
  std::map<std::string, std::string> options;
  for (int i = first; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
  return options;
}

// A folder that is removed with everything in it when the benchmark ends.
struct TScratchFolder {
  std::string path;
  ~TScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace calvora::bench
