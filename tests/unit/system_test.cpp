// The finishing steps: shortcuts read back through the shell link object, RunOnce values and the
// compatibility-layer entry, against the real (Wine) registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "probe/runonce_probe.h"
#include "robot/process_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "system/registry_steps.h"
#include "system/shortcuts.h"

namespace {

const char kLayers[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

class SystemTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    CopyText(installState.appName, kValueSize, "Kvs Test App");
    CopyText(installState.exeName, kValueSize, "KvsApp");
    CopyText(installState.destinationFolder, MAX_PATH, (folder_ / "Installed").c_str());
  }
  TempFolder folder_{"system"};
  SavedRegistryValue programs_{HKEY_CURRENT_USER, kShellFolders, "Programs"};
  SavedRegistryValue desktop_{HKEY_CURRENT_USER, kShellFolders, "Desktop"};
};

void SetShellFolder(const char* name, const std::string& value) {
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL);
  RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
  RegCloseKey(key);
}

TEST_F(SystemTest, ShortcutsPointAtTheInstalledProgram) {
  MakeFolders(folder_ / "Programs");
  MakeFolders(folder_ / "Desktop");
  SetShellFolder("Programs", folder_ / "Programs");
  CreateProgramShortcut("Programs");
  // Wine's shell rewrites the "Desktop" value from its own settings while making a link, so it is
  // set just before the second shortcut.
  SetShellFolder("Desktop", folder_ / "Desktop");
  CreateProgramShortcut("Desktop");
  for (const char* where : {"Programs", "Desktop"}) {
    std::string file = folder_ / (std::string(where) + "\\Kvs Test App.lnk");
    Link link = ReadLink(file);
    ASSERT_TRUE(link.loaded) << where << " exists=" << FileExists(file);
    // The target need not exist for its link to be made.
    EXPECT_EQ(folder_ / "Installed\\KvsApp.exe", link.path) << where;
    EXPECT_EQ(folder_ / "Installed", link.workingDirectory) << where;
    EXPECT_EQ(SW_SHOWNORMAL, link.showCommand) << where;
  }
}

TEST_F(SystemTest, MissingEmptyOrOverlongShellFoldersGetNoShortcut) {
  MakeFolders(folder_ / "Programs");
  SetShellFolder("Programs", folder_ / "Programs");
  CreateProgramShortcut("Programs");
  EXPECT_TRUE(FileExists(folder_ / "Programs\\Kvs Test App.lnk"));
  // Wine refreshes "Desktop" while making a link, so it is emptied only now; a link made anyway
  // would land in the prefix's own desktop folder.
  char desktop[MAX_PATH] = "";
  SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY, NULL, 0, desktop);
  const std::string strayLink = std::string(desktop) + "\\Kvs Test App.lnk";
  DeleteFileA(strayLink.c_str());
  SetShellFolder("Desktop", "");
  char folder[256];
  EXPECT_FALSE(ReadShellFolder(folder, "Desktop"));
  CreateProgramShortcut("Desktop"); // silently nothing
  EXPECT_FALSE(FileExists(strayLink)) << strayLink;

  SetShellFolder("Desktop", "C:\\" + std::string(260, 'd'));
  memset(folder, '#', sizeof folder);
  EXPECT_FALSE(ReadShellFolder(folder, "Desktop"));
  EXPECT_STREQ("", folder);
  EXPECT_FALSE(ReadShellFolder(folder, "KvsNoSuchValue"));
}

// Link path, target path and compatibility value name are built in 256-byte buffers: 255
// characters fit; one more and the step is refused whole instead of acting on a cut name (a cut
// compatibility name could delete another program's entry).
TEST_F(SystemTest, NamesBeyond255CharactersAreRefusedWhole) {
  if (RegistryKeyExists(HKEY_CURRENT_USER, kLayers)) {
    GTEST_SKIP() << "this prefix already has a Layers key, which the test would remove";
  }
  ScopedRegistryKey layers(HKEY_CURRENT_USER, kLayers);
  const std::string app(60, 'a');
  CopyText(installState.appName, kValueSize, app.c_str());
  const struct {
    size_t linkLength, targetLength;
    bool made;
  } cases[] = {{255, 150, true}, {256, 150, false}, {150, 255, true}, {150, 256, false}};
  for (const auto& c : cases) {
    std::string links =
        folder_ / std::string(c.linkLength - folder_.Path().size() - 6 - app.size(), 'p');
    MakeFolders(links);
    SetShellFolder("Programs", links);
    std::string destination = "C:\\" + std::string(c.targetLength - 14, 'd');
    std::string target = destination + "\\KvsApp.exe";
    CopyText(installState.destinationFolder, MAX_PATH, destination.c_str());
    layers.SetString(target, "WIN95");
    layers.SetString(target.substr(0, 255), "WIN95");
    ASSERT_EQ(c.linkLength, (links + "\\" + app + ".lnk").size());
    ASSERT_EQ(c.targetLength, target.size());

    CreateProgramShortcut("Programs");
    ClearCompatibilityLayer();
    std::string link = links + "\\" + app + ".lnk";
    EXPECT_EQ(c.made, FileExists(link)) << c.linkLength << "/" << c.targetLength;
    if (c.made) {
      EXPECT_EQ(target, ReadLink(link).path);
    }
    std::string data;
    EXPECT_EQ(c.targetLength <= 255,
              !ReadRegistryValue(HKEY_CURRENT_USER, kLayers, target.substr(0, 255), &data))
        << c.targetLength;
    DeleteTree(links);
  }
}

TEST(RegistrySteps, RunOnceValuesWithAndWithoutTheSetupKey) {
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  SavedRegistryValue wrapper(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
  bool hadSetup = RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(kRunOnce) + "\\Setup");
  ASSERT_FALSE(hadSetup) << "the prefix already has RunOnce\\Setup";
  DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");

  ScheduleRunOnce(0);
  std::string data;
  DWORD type = 0;
  ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv", &data, &type));
  EXPECT_EQ(std::string("grpconv -o", 11), data);
  EXPECT_EQ((DWORD)REG_SZ, type);
  EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper", &data));

  {
    ScopedRegistryKey setup(HKEY_LOCAL_MACHINE, std::string(kRunOnce) + "\\Setup");
    ScheduleRunOnce(0);
    ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper", &data, &type));
    EXPECT_EQ(std::string("runonce", 8), data);
    EXPECT_EQ((DWORD)REG_SZ, type);
  }
}

// runonce is started only when the RunOnce key opened: with HKEY_LOCAL_MACHINE pointed at an
// empty key nothing is written or started; with the real one the probe records its command line.
TEST(RegistrySteps, RunOnceIsStartedOnlyWhenItsKeyOpens) {
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  SavedRegistryValue wrapper(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
  DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  ASSERT_TRUE(FileExists(RunOnceProbe::ExePath())) << RunOnceProbe::ExePath();
  RunOnceProbe probe("closed");
  {
    ScopedRegistryKey empty(HKEY_CURRENT_USER, "Software\\KvsNoMachine");
    ScopedRegistryKey setup(HKEY_LOCAL_MACHINE, std::string(kRunOnce) + "\\Setup");
    HKEY stand = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KvsNoMachine", 0,
                                           KEY_ALL_ACCESS, &stand));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, stand));
    HKEY runOnce = NULL;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_ALL_ACCESS, &runOnce);
    ScheduleRunOnce(1);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
    RegCloseKey(stand);
    ASSERT_NE(ERROR_SUCCESS, opened) << "the stand-in still leads to RunOnce";
    std::string data;
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv", &data));
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper", &data));
  }
  probe.Tag("open");
  ScheduleRunOnce(1);
  // Both starts, had there been two, happened by now: once no probe of ours runs, the log is whole.
  EXPECT_TRUE(WaitUntil([&] { return probe.Log().find("|open") != std::string::npos; }, 30000));
  EXPECT_TRUE(WaitUntil([] { return !RunOnceProbe::Running(GetCurrentProcessId()); }, 30000));
  EXPECT_EQ(RunOnceProbe::SystemStart("open"), probe.Log());
}

TEST_F(SystemTest, CompatibilityEntryOfTheInstalledProgramIsDeleted) {
  const std::string valueName = folder_ / "Installed\\KvsApp.exe";
  if (RegistryKeyExists(HKEY_CURRENT_USER, kLayers)) {
    GTEST_SKIP() << "this prefix already has a Layers key, which the test would remove";
  }
  {
    ScopedRegistryKey layers(HKEY_CURRENT_USER, kLayers);
    layers.SetString(valueName, "WIN95");
    layers.SetString(valueName + ".other", "WIN98");
    ClearCompatibilityLayer();
    std::string data;
    EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, kLayers, valueName, &data));
    EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, kLayers, valueName + ".other", &data));
  }
  ClearCompatibilityLayer(); // a missing key is not created
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kLayers));
}

} // namespace
