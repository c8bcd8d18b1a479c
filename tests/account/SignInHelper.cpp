// A second program on the same data directory, for the tests of the saved
// sign-in shared between processes.
//   save <programDir> <login> <password> <display>
//   load <programDir>                    prints "login|password|display" or "none"
//   churn <programDir> <login> <count>   saves and reloads its own sign-in
//                                        <count> times; exit 3 when a load
//                                        sees a torn or foreign-looking record
#include "account/uFirebaseActiveAccount.h"
#include "foundation/Env.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

using namespace calvora;

// Moves a minute on at every question, so the 60 s memory copy never
// answers and every load reads the file.
class TJumpingClock : public TClock {
 public:
  TDateTime Now() const override {
    std::lock_guard<std::mutex> guard(lock_);
    now_ = IncSeconds(now_, 61);
    return now_;
  }
  void SleepMs(std::int64_t ms) const override {
    std::lock_guard<std::mutex> guard(lock_);
    now_ = IncMilliseconds(now_, ms);
  }

 private:
  mutable std::mutex lock_;
  mutable TDateTime now_ = EncodeDateTime(2024, 3, 5, 10, 0, 0);
};

int Run(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  TConfigLocations locations;
  locations.ExecutableDir = argv[2];
  locations.ProgramData = std::string(argv[2]) + "/../programdata";
  locations.AppData = std::string(argv[2]) + "/../appdata";
  TAppConfig config(locations);
  TJumpingClock clock;
  TEnv env(config, TDeploymentSettings(), clock, platform::SystemProcessRunner(), argv[2], argv[2]);

  if (mode == "save" && argc == 6) {
    SaveSignIn(env, TAccountCredentials{argv[3], argv[4], argv[5]});
    return 0;
  }
  if (mode == "load") {
    TAccountCredentials c;
    if (!LoadSavedSignIn(env, c)) {
      std::printf("none\n");
      return 0;
    }
    std::printf("%s|%s|%s\n", c.LoginName.c_str(), c.Password.c_str(), c.DisplayName.c_str());
    return 0;
  }
  if (mode == "churn" && argc == 5) {
    const std::string login = argv[3];
    const int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
      SaveSignIn(env, TAccountCredentials{login, login + "-pw", login + "-display"});
      TAccountCredentials c;
      if (!LoadSavedSignIn(env, c)) return 3;
      // Whoever wrote last, the record must be whole.
      if (c.Password != c.LoginName + "-pw" || c.DisplayName != c.LoginName + "-display") return 3;
    }
    return 0;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 4;
  }
}
