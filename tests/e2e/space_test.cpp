// The space test against a real small drive: a 1 MiB tmpfs that scripts/test.sh mounts and maps
// to a Wine drive letter, named by SMALL_DRIVE.
#include <gtest/gtest.h>

#include <string>

#include "robot/process_robot.h"
#include "robot/ui_robot.h"
#include "support/test_support.h"
#include "ui/resources/resource.h"

namespace {

const char kTestKey[] = "Software\\KvsSpaceTest";

TEST(EndToEnd, ATooSmallDriveIsRefusedUntilTheOptionIsCleared) {
  const char* drive = TestDrive("SMALL_DRIVE");
  if (drive == nullptr) {
    GTEST_SKIP() << MissingTestDrivesReason();
  }
  const std::string destination = std::string(drive) + "\\Demo";
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  TempFolder links("links");
  SavedRegistryValue programs(HKEY_CURRENT_USER, kShellFolders, "Programs");
  SavedRegistryValue desktop(HKEY_CURRENT_USER, kShellFolders, "Desktop");
  SetRegistryString(HKEY_CURRENT_USER, kShellFolders, "Programs", links.Path());
  SetRegistryString(HKEY_CURRENT_USER, kShellFolders, "Desktop", links.Path());
  Distribution dist;
  // The option's cached size (5 MiB) is far beyond the drive; its file is never needed.
  dist.SetSetupDat("[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=Demo\nEXENAME=demo\n"
                   "[KVSetup]\nTitle=Demo Setup\nPath=" +
                   destination +
                   "\nGroup1=Main.Files\nDescription1=Main\nGroup2=Big.Files\nDescription2=Big\n"
                   "Option2=Big extras\nSize2=5242880\n[Main.Files]\nmain.txt\n[Big.Files]\n"
                   "big.bin\n[default_install]\nAddReg=R\n[R]\nHKCU," +
                   kTestKey + ",Dir,,%65600%\n");
  dist.AddFile("main.txt", "main");

  SetupProcess setup;
  ASSERT_TRUE(setup.Start(dist.AddSetupExe()));
  HWND page = setup.WaitForWindow(IsDestinationPage);
  ASSERT_NE(nullptr, page) << setup.Describe();
  setup.Click(page, IDC_NEXT);
  HWND options = setup.WaitForWindow(IsOptionsPage);
  ASSERT_NE(nullptr, options) << setup.Describe();
  EXPECT_EQ("1.00 MB", setup.Snapshot(options).Text(IDC_AVAILABLE_VALUE));
  setup.Click(options, IDC_NEXT);

  HWND refused = setup.WaitForWindow(IsMessageBox);
  ASSERT_NE(nullptr, refused) << setup.Describe();
  WindowSnapshot message = setup.Snapshot(refused);
  EXPECT_EQ("There is insufficient space on Drive " + std::string(drive) +
                " to install the currently selected options.",
            message.MessageText());
  EXPECT_EQ("Demo Setup", message.caption);
  setup.Click(refused, IDOK);

  // Measured again and shown again, with the choice the user made.
  options = setup.WaitForWindow(IsOptionsPage);
  ASSERT_NE(nullptr, options) << setup.Describe();
  EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(options, IDC_OPTION1), BM_GETCHECK, 0, 0));
  setup.Click(options, IDC_OPTION1);
  ASSERT_TRUE(WaitUntil(
      [&] { return SendMessageA(GetDlgItem(options, IDC_OPTION1), BM_GETCHECK, 0, 0) == 0; },
      10000));
  setup.Click(options, IDC_NEXT);
  HWND done = setup.WaitForWindow(IsMessageBox);
  ASSERT_NE(nullptr, done) << setup.Describe();
  EXPECT_EQ("Setup has finished installing Demo on your computer.",
            setup.Snapshot(done).MessageText());
  setup.Click(done, IDOK);
  DWORD exitCode = 99;
  ASSERT_TRUE(setup.WaitForExit(90000, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EXPECT_EQ("main", ReadTextFile(destination + "\\main.txt"));
  EXPECT_FALSE(FileExists(destination + "\\big.bin"));

  DeleteTree(destination);
  DeleteRegistryTree(HKEY_CURRENT_USER, kTestKey);
}

} // namespace
