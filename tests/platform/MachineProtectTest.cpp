#include "platform/machine_protect.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace calvora {
namespace {

namespace fs = std::filesystem;

class MachineProtectTest : public ::testing::Test {
 protected:
  std::string Seal(const platform::MachineKeyProtector& p, const std::string& plain, const std::string& what) {
    std::string blob, error;
    EXPECT_TRUE(p.Protect(plain, what, blob, error)) << error;
    return blob;
  }
  bool Opens(const platform::MachineKeyProtector& p, const std::string& blob, const std::string& what,
             std::string* plain = nullptr) {
    std::string out = "stale", error;
    bool ok = p.Unprotect(blob, what, out, error);
    if (!ok) {
      EXPECT_EQ(out, "");
    }
    if (plain) *plain = out;
    return ok;
  }
  test::TTempDir dir;
  platform::MachineKeyProtector mine{dir.File("keys/machine.key")};
};

TEST_F(MachineProtectTest, SealsAndOpensWithTheSameKeyAndDescription) {
  const std::string blob = Seal(mine, "gizli \xC3\xA7", "BrimoraPlanSecret");
  EXPECT_EQ(static_cast<unsigned char>(blob[0]), 0x01);
  EXPECT_EQ(blob.size(), 1 + 12 + 8 + 16u);
  EXPECT_NE(blob, Seal(mine, "gizli \xC3\xA7", "BrimoraPlanSecret"));  // a new nonce each time
  std::string plain;
  ASSERT_TRUE(Opens(mine, blob, "BrimoraPlanSecret", &plain));
  EXPECT_EQ(plain, "gizli \xC3\xA7");
  ASSERT_TRUE(Opens(mine, Seal(mine, "", "x"), "x", &plain));
  EXPECT_EQ(plain, "");
}

TEST_F(MachineProtectTest, RefusesDamagedForeignAndMisdirectedBlobs) {
  const std::string blob = Seal(mine, "secret", "BrimoraPlanSecret");
  platform::MachineKeyProtector other(dir.File("other.key"));

  std::vector<std::pair<std::string, std::string>> refused;  // name, blob
  for (size_t at : {size_t{0}, size_t{5}, size_t{14}, blob.size() - 1}) {
    std::string damaged = blob;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
    refused.push_back({"bit flipped at " + std::to_string(at), damaged});
  }
  refused.push_back({"cut short", blob.substr(0, blob.size() - 1)});
  refused.push_back({"too short for a blob", blob.substr(0, 20)});
  refused.push_back({"empty", ""});
  refused.push_back({"sealed with another key", Seal(other, "secret", "BrimoraPlanSecret")});
  for (const auto& [name, b] : refused) EXPECT_FALSE(Opens(mine, b, "BrimoraPlanSecret")) << name;
  EXPECT_FALSE(Opens(mine, blob, "ServiceToken")) << "sealed for another description";
  EXPECT_FALSE(Opens(other, blob, "BrimoraPlanSecret"));
}

TEST_F(MachineProtectTest, MissingKeyIsCreatedOwnerAndGroupOnlyAndNeverReplaced) {
  std::string blob, error, plain;
  // Opening never makes a key: without one nothing opens.
  EXPECT_FALSE(mine.Unprotect(std::string(40, '\x01'), "x", plain, error));
  EXPECT_FALSE(fs::exists(mine.KeyPath()));

  blob = Seal(mine, "a", "x");
  ASSERT_TRUE(fs::exists(mine.KeyPath()));
  EXPECT_EQ(fs::file_size(mine.KeyPath()), 32u);
  EXPECT_EQ(fs::status(mine.KeyPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string key = test::ReadFile(mine.KeyPath());
  Seal(mine, "b", "x");
  EXPECT_EQ(test::ReadFile(mine.KeyPath()), key);  // the existing key stays
  EXPECT_EQ(mine.KeyFault(), "");

  // A key file that is there but unusable is reported, and not replaced.
  test::WriteFile(mine.KeyPath(), "short");
  EXPECT_FALSE(mine.Protect("c", "x", blob, error));
  EXPECT_FALSE(error.empty());
  EXPECT_NE(mine.KeyFault(), "");
  EXPECT_EQ(test::ReadFile(mine.KeyPath()), "short");
  EXPECT_EQ(platform::MachineKeyProtector(dir.File("absent.key")).KeyFault(),
            "Makine anahtari bulunamadi: " + dir.File("absent.key"));
}

// A key is made only when the caller says nothing was sealed with a lost one.
TEST_F(MachineProtectTest, MissingKeyIsMadeOnlyWhenCreationIsAllowed) {
  const std::string path = dir.File("guarded/machine.key");
  std::string blob, error;
  platform::MachineKeyProtector refused(path, [] { return std::string("korunan dosya var: plans.json"); });
  EXPECT_FALSE(refused.Protect("a", "x", blob, error));
  EXPECT_EQ(error, "Makine anahtari bulunamadi: " + path + " (korunan dosya var: plans.json)");
  EXPECT_FALSE(fs::exists(path));
  std::string plain;
  EXPECT_FALSE(refused.Unprotect(std::string(40, '\x01'), "x", plain, error));
  EXPECT_EQ(error, "Makine anahtari bulunamadi: " + path);

  platform::MachineKeyProtector allowed(path, [] { return std::string(); });
  EXPECT_TRUE(allowed.Protect("a", "x", blob, error)) << error;
  EXPECT_TRUE(fs::exists(path));
  EXPECT_TRUE(refused.Unprotect(blob, "x", plain, error)) << "an existing key is used whatever the check says";
}

TEST_F(MachineProtectTest, ProcessesMakingTheKeyAtOnceAgreeOnOne) {
  std::vector<std::string> blobs(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < blobs.size(); ++i)
    threads.emplace_back([&, i] {
      platform::MachineKeyProtector p(dir.File("race/machine.key"));
      std::string error;
      p.Protect("same", "x", blobs[i], error);
    });
  for (auto& t : threads) t.join();
  platform::MachineKeyProtector p(dir.File("race/machine.key"));
  for (const auto& b : blobs) EXPECT_TRUE(Opens(p, b, "x"));
  size_t leftovers = 0;
  for (const auto& e : fs::directory_iterator(dir.File("race"))) leftovers += e.path().filename() != "machine.key";
  EXPECT_EQ(leftovers, 0u);
}

}  // namespace
}  // namespace calvora
