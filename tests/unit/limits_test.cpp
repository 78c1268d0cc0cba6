// Texts longer than the buffers they are built in, one boundary per subsystem: what fits is
// used, what does not is refused, and nothing is cut into a name that means something else.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <set>
#include <string>

#include "engine/disk_space.h"
#include "engine/file_copy.h"
#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_api.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "system/registry_steps.h"
#include "system/shortcuts.h"
#include "ui/folder_browser.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource.h"

namespace {

const char kVersion[] = "[Version]\nSignature=\"$Chicago$\"\n";

class LimitsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    CopyText(installState.appName, kValueSize, "Kvs Limits");
  }
  void TearDown() override {
    if (installState.infHandle != NULL) {
      CloseSetupFile(installState.infHandle);
    }
    DestroyWindow(installState.progressWindow);
  }
  void Open(const std::string& folder, const std::string& setupDat) {
    MakeFolders(folder);
    WriteTextFile(JoinPath(folder, "SETUP.DAT"), kVersion + setupDat);
    CopyText(installState.moduleFolder, MAX_PATH, (folder + "\\").c_str());
    CopyText(installState.setupFilePath, MAX_PATH, JoinPath(folder, "SETUP.DAT").c_str());
    installState.infHandle = OpenSetupFile(installState.setupFilePath);
    ASSERT_NE(INVALID_HANDLE_VALUE, installState.infHandle) << folder;
  }
  // A folder below the sandbox whose full path has exactly length characters.
  std::string FolderOfLength(size_t length) const {
    std::string prefix = sandbox_.Path() + "\\";
    std::string name(length - prefix.size(), 'f');
    for (size_t i = 100; i + 1 < name.size(); i += 100) {
      name[i] = '\\'; // every level stays a short name
    }
    return prefix + name;
  }
  TempFolder sandbox_{"limits"};
  TestOwner owner_;
};

TEST_F(LimitsTest, CopyTargetOf255CharactersIsCopiedAndOf256Refused) {
  Open(sandbox_ / "dist", "[Files]\na.txt,src.txt\n");
  WriteTextFile(sandbox_ / "dist\\src.txt", "s");
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  installState.progressWindow =
      CreateDialogParamA(installState.instance, MAKEINTRESOURCEA(IDD_PROGRESS), owner_.Window(),
                         ProgressDialogProc, 0);
  for (size_t length : {255u, 256u}) {
    std::string folder = FolderOfLength(length - 6); // + "\a.txt"
    MakeFolders(folder);
    CopyText(installState.destinationFolder, MAX_PATH, folder.c_str());
    UiRobot robot;
    std::string shown;
    robot.Expect("copy error", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
      shown = w.MessageText();
      UiRobot::Click(w.window, IDOK);
    });
    int copied = CopyGroupFiles(installState.infHandle, "Files", 0);
    EXPECT_EQ(length == 255, copied == 1) << length;
    EXPECT_EQ(length == 255, FileExists(folder + "\\a.txt")) << length;
    EXPECT_EQ(length == 255 ? "" : "There was an error copying src.txt\n\n", shown.substr(0, 36))
        << length;
  }
}

TEST_F(LimitsTest, SpacePathsBeyondTheirBuffersAreLeftOut) {
  // A sizes file whose path would pass 255 characters is not written, nor one with a cut name.
  std::string folder = FolderOfLength(249); // SETUP.DAT 259, sizes.txt the same
  Open(folder, "[Files]\na.txt\n" + std::string(255, 'x') + "\n");
  WriteTextFile(folder + "\\a.txt", std::string(5000, 'a'));
  // The second line's target path has 259 + 1 + 255 characters, more than the 511 it is built
  // in: it is not counted, and the walk goes on.
  CopyText(installState.destinationFolder, MAX_PATH, FolderOfLength(MAX_PATH - 1).c_str());
  int32_t net = -1;
  int32_t gross = -1;
  EXPECT_EQ(1, EstimateGroupSpace(installState.infHandle, "Files", &net, &gross, 0));
  EXPECT_GE(gross, 5000);
  EXPECT_LT(gross, 5000 + 65536); // one file rounded up to its clusters
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  std::set<std::string> names;
  do {
    names.insert(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ((std::set<std::string>{".", "..", "SETUP.DAT", "a.txt"}), names);
}

TEST_F(LimitsTest, TypedFolderOf255CharactersIsAskedAboutAndOf256Refused) {
  for (size_t length : {255u, 256u}) {
    std::string typed = FolderOfLength(length);
    UiRobot robot;
    std::string shown;
    robot.Expect("message", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
      shown = w.MessageText();
      UiRobot::Click(w.window, w.Has(IDNO) ? IDNO : IDOK);
    });
    EXPECT_EQ(1, BrowseCallback(owner_.Window(), BFFM_VALIDATEFAILEDA, (LPARAM)typed.c_str(), 0));
    std::string expected =
        length == 255 ? "The folder '" + typed + "' does not exist."
                      : "The specified folder name '" + typed.substr(0, 255) + "' is invalid.";
    EXPECT_EQ(expected, shown.substr(0, expected.size())) << length;
    EXPECT_FALSE(FolderExists(typed)); // No, or refused: nothing made
  }
}

TEST_F(LimitsTest, ShortcutAndCompatibilityNamesPast255AreRefusedNotCut) {
  const char kLayers[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
  if (RegistryKeyExists(HKEY_CURRENT_USER, kLayers)) {
    GTEST_SKIP() << "this prefix already has a Layers key, which the test would remove";
  }
  SavedRegistryValue programs(HKEY_CURRENT_USER, kShellFolders, "Programs");
  HKEY shellFolders;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, NULL, 0,
                                           KEY_SET_VALUE, NULL, &shellFolders, NULL));
  RegSetValueExA(shellFolders, "Programs", 0, REG_SZ, (const BYTE*)sandbox_.Path().c_str(),
                 (DWORD)sandbox_.Path().size() + 1);
  RegCloseKey(shellFolders);
  ScopedRegistryKey layers(HKEY_CURRENT_USER, kLayers);
  // destinationFolder + "\" + exeName + ".exe": 256 characters.
  std::string folder = FolderOfLength(256 - 1 - 127 - 4);
  CopyText(installState.destinationFolder, MAX_PATH, folder.c_str());
  CopyText(installState.exeName, kValueSize, std::string(127, 'e').c_str());
  std::string fullName = folder + "\\" + installState.exeName + ".exe";
  layers.SetString(fullName, "WIN95");
  layers.SetString(fullName.substr(0, 255), "WIN98"); // what a cut name would delete
  ClearCompatibilityLayer();
  std::string data;
  EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, kLayers, fullName.substr(0, 255), &data));

  // The link's target path does not fit its 256 bytes: no shortcut rather than a wrong one.
  CreateProgramShortcut("Programs");
  EXPECT_FALSE(FileExists(sandbox_ / "Kvs Limits.lnk"));
  CopyText(installState.exeName, kValueSize, std::string(126, 'e').c_str()); // 255: fits
  CreateProgramShortcut("Programs");
  EXPECT_TRUE(FileExists(sandbox_ / "Kvs Limits.lnk"));
}

} // namespace
