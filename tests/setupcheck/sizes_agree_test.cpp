// setupcheck --sizes against the installer's own measuring: the same group sizes for files of
// assorted sizes, a target named twice, a missing source and a line too long to read.
#include <gtest/gtest.h>

#include <string>

#include "checker.h"
#include "engine/disk_space.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_script.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"

TEST(MeasuredSizesAgreeWithInstaller, ForAssortedFiles) {
  ResetInstallState();
  TempFolder destination("dest");
  char root[4];
  CopyText(root, sizeof root, destination.Path().c_str());
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    GTEST_SKIP() << "the drive of " << destination.Path() << " reports no cluster size";
  }
  const size_t cluster = sectorsPerCluster * bytesPerSector;

  Distribution dist;
  dist.SetSetupDat("[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=Sizes\nEXENAME=Sizes\n"
                   "[KVSetup]\nTitle=Sizes\nGroup1=Mixed.Files\nDescription1=Copying\n"
                   "Group2=Stops.Files\nDescription2=Copying\n"
                   "[Mixed.Files]\nsmall.txt\nexact.bin\nempty.txt\nbig.bin\n"
                   "sub\\small.txt,small.txt\nSMALL.TXT,big.bin\nmissing.txt\n"
                   "[Stops.Files]\nsmall.txt\n" +
                   std::string(300, 'x') + "\nbig.bin\n");
  dist.AddFile("small.txt", std::string(10, 's'));
  dist.AddFile("exact.bin", std::string(cluster, 'e'));
  dist.AddFile("empty.txt", "");
  dist.AddFile("big.bin", std::string(3 * cluster + 1, 'b'));

  CheckResult checked;
  CheckDistribution(dist.Path(), (int64_t)cluster, &checked);

  ScopedModuleFolder where(dist.Path() + "\\");
  TestOwner owner;
  ASSERT_EQ(1, LoadSetupScript(owner.Window()));
  CopyText(installState.destinationFolder, MAX_PATH, destination.Path().c_str());
  ASSERT_EQ((size_t)installState.groupCount, checked.sizes.size());
  for (int i = 0; i < installState.groupCount; ++i) {
    int32_t net = 0;
    int32_t gross = 0;
    ASSERT_EQ(1, EstimateGroupSpace(installState.infHandle, installState.groups[i].sectionName,
                                    &net, &gross, (int16_t)i));
    EXPECT_EQ(gross, checked.sizes[i].bytes) << "group " << i + 1 << ", cluster " << cluster;
    EXPECT_EQ(i + 1, checked.sizes[i].group);
  }
  CloseSetupScript();
}
