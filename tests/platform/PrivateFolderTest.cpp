// The private temporary folder and what is made below it: whatever another
// account planted at one of the names is never used, followed or read.
#include "platform/paths.h"
#include "platform/private_folder.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;

struct TPlant {
  const char* what;
  std::function<void(const std::string& path, const std::string& elsewhere)> make;
  bool needsRoot = false;
};

// Everything an unprivileged user could leave at a name in a shared folder
// before the service gets there.
std::vector<TPlant> Plants() {
  return {
      {"another user's folder",
       [](const std::string& path, const std::string&) {
         fs::create_directory(path);
         test::WriteFile(path + "/CalvoraBackup/config_planted.json", "planted");
         chown((path + "/CalvoraBackup").c_str(), kOtherUser, kOtherUser);
         chown(path.c_str(), kOtherUser, kOtherUser);
         chmod(path.c_str(), 0700);
       },
       true},
      {"a link to a folder of ours",
       [](const std::string& path, const std::string& elsewhere) {
         fs::create_directory(elsewhere);
         chmod(elsewhere.c_str(), 0700);
         fs::create_directory_symlink(elsewhere, path);
       }},
      {"a folder of ours that anyone may write",
       [](const std::string& path, const std::string&) {
         fs::create_directory(path);
         chmod(path.c_str(), 0777);
       }},
      {"a file", [](const std::string& path, const std::string&) { test::WriteFile(path, "planted"); }},
      {"a dangling link",
       [](const std::string& path, const std::string& elsewhere) { fs::create_symlink(elsewhere, path); }},
  };
}

class PrivateFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* saved = std::getenv("TMPDIR");
    savedTmp = saved ? saved : "";
    hadTmp = saved != nullptr;
    setenv("TMPDIR", (base.Path() + "/").c_str(), 1);
  }
  void TearDown() override {
    if (hadTmp)
      setenv("TMPDIR", savedTmp.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  std::string ExpectedName() const { return base.Path() + "/calvora-" + std::to_string(getuid()); }
  static void ExpectPrivate(const std::string& dir) {
    struct stat st {};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0) << dir;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << dir;
    EXPECT_EQ(st.st_uid, geteuid()) << dir;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
  }

  test::TTempDir base;
  std::string savedTmp;
  bool hadTmp = false;
};

TEST_F(PrivateFolderTest, TemporaryFolderIsOursOrAFreshOneNeverTheSharedFolder) {
  const std::string dir = platform::UserTempDir();
  EXPECT_EQ(dir, ExpectedName());
  ExpectPrivate(dir);
  EXPECT_EQ(platform::UserTempDir(), dir) << "ours from an earlier run is taken again";
  fs::remove_all(dir);

  for (const TPlant& plant : Plants()) {
    SCOPED_TRACE(plant.what);
    if (plant.needsRoot && geteuid() != 0) continue;
    const std::string elsewhere = base.Path() + "/elsewhere";
    plant.make(ExpectedName(), elsewhere);
    const std::string chosen = platform::UserTempDir();
    ASSERT_FALSE(chosen.empty());
    EXPECT_NE(chosen, base.Path());
    EXPECT_NE(chosen, ExpectedName());
    EXPECT_EQ(chosen.rfind(ExpectedName() + "-", 0), 0u) << chosen;
    ExpectPrivate(chosen);
    EXPECT_TRUE(fs::is_empty(chosen));
    if (fs::exists(elsewhere)) {
      EXPECT_TRUE(fs::is_empty(elsewhere)) << "a link is never followed";
    }
    std::error_code ec;
    fs::remove_all(ExpectedName(), ec);
    fs::remove_all(elsewhere, ec);
    fs::remove_all(chosen, ec);
  }
}

TEST_F(PrivateFolderTest, FoldersBelowAreMadePrivateOrRefused) {
  const std::string parent = base.Path() + "/private";
  std::string error;
  ASSERT_TRUE(platform::EnsurePrivateFolder(parent, error)) << error;
  ExpectPrivate(parent);

  // An earlier version left its folders readable by others: ours, so they
  // are taken and tightened.
  const std::string older = parent + "/CalvoraBackup";
  fs::create_directory(older);
  chmod(older.c_str(), 0755);
  EXPECT_TRUE(platform::EnsurePrivateFolder(older, error)) << error;
  ExpectPrivate(older);

  for (const TPlant& plant : Plants()) {
    SCOPED_TRACE(plant.what);
    if (plant.needsRoot && geteuid() != 0) continue;
    const std::string name = parent + "/BrimoraMail";
    const std::string elsewhere = base.Path() + "/elsewhere";
    plant.make(name, elsewhere);
    EXPECT_FALSE(platform::EnsurePrivateFolder(name, error));
    EXPECT_FALSE(error.empty());
    EXPECT_NE(platform::PrivateFolderFault(name), "");
    if (fs::exists(elsewhere)) {
      EXPECT_TRUE(fs::is_empty(elsewhere));
    }
    std::error_code ec;
    fs::remove_all(name, ec);
    fs::remove_all(elsewhere, ec);
  }
  EXPECT_FALSE(platform::EnsurePrivateFolder(base.Path() + "/missing/parent", error));
}

TEST_F(PrivateFolderTest, PrivateFilesAreNewOwnerOnlyAndNeverWrittenThroughALink) {
  const std::string file = base.File("config_abc.json");
  platform::CreatePrivateFile(file, "secret");
  EXPECT_EQ(test::ReadFile(file), "secret");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(platform::PrivateFileFault(file), "");
  EXPECT_THROW(platform::CreatePrivateFile(file, "again"), std::system_error) << "the name must be free";
  EXPECT_EQ(test::ReadFile(file), "secret");

  const std::string target = base.File("target");
  test::WriteFile(target, "untouched");
  const std::string link = base.File("link.json");
  fs::create_symlink(target, link);
  EXPECT_THROW(platform::CreatePrivateFile(link, "secret"), std::system_error);
  EXPECT_EQ(test::ReadFile(target), "untouched");
  EXPECT_NE(platform::PrivateFileFault(link), "");

  chmod(target.c_str(), 0666);
  EXPECT_NE(platform::PrivateFileFault(target), "") << "anyone could have written it";
  if (geteuid() == 0) {
    chmod(target.c_str(), 0600);
    chown(target.c_str(), kOtherUser, kOtherUser);
    EXPECT_NE(platform::PrivateFileFault(target), "");
  }
}

}  // namespace
}  // namespace calvora
