// The restore's rules without a cloud: which revision of each volume
// belongs to a version, and where a database's files go under a new name.
#include "restore/RestoreEngine.h"

#include <gmock/gmock.h>

namespace calvora {
namespace {

using ::testing::ElementsAre;

TDriveRevisionInfo Rev(const std::string& id, TDateTime at) { return TDriveRevisionInfo{id, at, 1, "md5-" + id, false, ""}; }

std::vector<std::string> Picked(const std::vector<TVolumeVersion>& parts) {
  std::vector<std::string> out;
  for (const TVolumeVersion& p : parts) out.push_back(p.File.Name + "@" + p.RevisionID);
  return out;
}

TEST(RestoreHelpersTest, EachVolumeTakesTheRevisionUploadedWithTheChosenFirstVolume) {
  std::vector<TDriveFileInfo> volumes(3);
  volumes[0].Name = "A.part1.rar";
  volumes[1].Name = "A.part2.rar";
  volumes[2].Name = "A.part3.rar";
  // Run 1 at 10 made three volumes, run 2 at 20 only two: part3 is stale.
  const std::vector<std::vector<TDriveRevisionInfo>> revisions = {
      {Rev("1a", 10.0), Rev("1b", 20.0)}, {Rev("2a", 10.1), Rev("2b", 20.1)}, {Rev("3a", 10.2)}};
  EXPECT_THAT(Picked(MatchVolumeVersions(volumes, revisions, "")),
              ElementsAre("A.part1.rar@", "A.part2.rar@2b"));
  EXPECT_THAT(Picked(MatchVolumeVersions(volumes, revisions, "1a")),
              ElementsAre("A.part1.rar@1a", "A.part2.rar@2a", "A.part3.rar@3a"));
  EXPECT_EQ(MatchVolumeVersions(volumes, revisions, "1a")[1].MD5, "md5-2a");
}

TEST(RestoreHelpersTest, VolumeNamesGroupAndOtherNamesStayAlone) {
  EXPECT_EQ(RestoreBackupGroupName("Muhasebe_.part12.rar"), "Muhasebe_.part*.rar");
  EXPECT_EQ(RestoreBackupGroupName("Muhasebe_.rar"), "Muhasebe_.rar");
  EXPECT_EQ(RestoreBackupGroupName("x.partial.rar"), "x.partial.rar");
  EXPECT_EQ(RestoreBackupGroupName("STOK_.fbk"), "STOK_.fbk");
}

TEST(RestoreHelpersTest, ANewNameGetsNewFilesInTheChosenFolders) {
  TRestoreMetadata metadata;
  metadata.DatabaseName = "Muhasebe";
  metadata.DbFiles = {{"Muhasebe", "D:\\SQL\\Data\\Muhasebe.mdf", "D"},
                      {"Muhasebe_log", "E:\\Log\\Muhasebe_log.ldf", "L"},
                      {"Arsiv", "D:\\SQL\\Data\\arsiv2.ndf", "D"}};
  auto physical = [&](const std::string& name, const std::string& data, const std::string& log) {
    std::vector<std::string> out;
    for (const TRestoreDbFile& f : TRestoreService::PlanFileMoves(metadata, name, data, log)) out.push_back(f.PhysicalName);
    return out;
  };
  EXPECT_THAT(physical("", "", ""),
              ElementsAre("D:\\SQL\\Data\\Muhasebe.mdf", "E:\\Log\\Muhasebe_log.ldf", "D:\\SQL\\Data\\arsiv2.ndf"));
  EXPECT_THAT(physical("Deneme", "", "F:\\L\\"),
              ElementsAre("D:\\SQL\\Data\\Deneme.mdf", "F:\\L\\Deneme_log.ldf", "D:\\SQL\\Data\\Deneme_arsiv2.ndf"));
  EXPECT_THAT(physical("Deneme", "/srv/data", ""),
              ElementsAre("/srv/data/Deneme.mdf", "E:\\Log\\Deneme_log.ldf", "/srv/data/Deneme_arsiv2.ndf"));
}

}  // namespace
}  // namespace calvora
