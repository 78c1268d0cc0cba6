// The progress window's protocol and the copy of one group, in-process with real files.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "engine/file_copy.h"
#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_api.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource.h"

namespace {

class ProgressWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    CopyText(installState.title, kValueSize, "Demo Setup");
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    installState.progressWindow =
        CreateDialogParamA(installState.instance, MAKEINTRESOURCEA(IDD_PROGRESS), owner_.Window(),
                           ProgressDialogProc, 0);
    ASSERT_NE(nullptr, installState.progressWindow);
    bar_ = GetDlgItem(installState.progressWindow, IDC_PROGRESS_BAR);
  }
  void TearDown() override {
    DestroyWindow(installState.progressWindow);
  }

  void Send(WPARAM wParam, LPARAM lParam) {
    SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, wParam, lParam);
  }
  int Position() {
    return (int)SendMessageA(bar_, PBM_GETPOS, 0, 0);
  }
  int Maximum() {
    return (int)SendMessageA(bar_, PBM_GETRANGE, FALSE, 0);
  }
  // What the bar shows on the screen right now, pixel by pixel.
  std::vector<DWORD> BarPixels() {
    RECT client;
    GetClientRect(bar_, &client);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(bar_);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
    std::vector<DWORD> pixels((DWORD*)bits, (DWORD*)bits + client.right * client.bottom);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(bar_, screen);
    return pixels;
  }

  TestOwner owner_;
  HWND bar_ = NULL;
};

TEST_F(ProgressWindowTest, ResetAndStepMoveTheBarOverTheWholeTotal) {
  EXPECT_EQ("Demo Setup", WindowText(installState.progressWindow));
  EXPECT_EQ(0, installState.cancelRequested);
  EXPECT_EQ((UINT)(MF_GRAYED), GetMenuState(GetSystemMenu(installState.progressWindow, FALSE),
                                            SC_CLOSE, MF_BYCOMMAND) &
                                   MF_GRAYED);
  Send(0, 250);
  EXPECT_EQ(250, Maximum());
  EXPECT_EQ(0, Position());
  for (int i = 0; i < 250; ++i) {
    Send(i % 2 ? 1 : 5, 0); // any non-zero wParam is one step
  }
  EXPECT_EQ(250, Position());
  EXPECT_EQ(250, progressCount);
  Send(1, 0); // beyond the total: counted, the bar stays full
  EXPECT_EQ(251, progressCount);
  EXPECT_EQ(250, Position());

  Send(0, 70000); // the whole total is the range, not its low 16 bits
  EXPECT_EQ(70000, Maximum());
  EXPECT_EQ(0, progressCount);
  Send(0, 0);
  EXPECT_EQ(0, Maximum());
  Send(0, -3); // selected groups whose sections are missing
  EXPECT_EQ(0, Maximum());
  EXPECT_EQ(-3, progressTotal);
}

// Steps that do not move the filled part skip the repaint: the bar must still show, after
// every step, what a full repaint would show, and a hidden bar must stay hidden.
TEST_F(ProgressWindowTest, StepsShowWhatAFullRepaintWouldShow) {
  ShowWindow(installState.progressWindow, SW_SHOW);
  Send(0, 1200);
  UpdateWindow(installState.progressWindow);
  for (int i = 1; i <= 1200; ++i) {
    Send(1, 0);
    ASSERT_EQ(i, Position());
    if (i % 89 == 0 || i == 1 || i == 1200) {
      std::vector<DWORD> shown = BarPixels();
      RedrawWindow(bar_, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
      ASSERT_EQ(shown, BarPixels()) << "after step " << i;
    }
  }
  ShowWindow(bar_, SW_HIDE);
  Send(1, 0);
  EXPECT_FALSE(IsWindowVisible(bar_));
}

TEST_F(ProgressWindowTest, CancelAsksAndOnlyExitSetupStopsTheRun) {
  UiRobot robot;
  robot.ExpectAndClick("exit question", IsExitQuestion, IDC_CANCEL); // Resume
  SendMessageA(installState.progressWindow, WM_COMMAND, IDC_CANCEL, 0);
  EXPECT_EQ(0, installState.cancelRequested);
  robot.ExpectAndClick("exit question", IsExitQuestion, IDC_NEXT); // Exit Setup
  SendMessageA(installState.progressWindow, WM_COMMAND, IDC_CANCEL, 0);
  EXPECT_EQ(1, installState.cancelRequested);
  EXPECT_FALSE(IsWindowVisible(installState.progressWindow));
  EXPECT_TRUE(IsWindow(installState.progressWindow)); // hidden, not destroyed
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
}

class CopyTest : public ProgressWindowTest {
protected:
  void Load(const std::string& setupDat) {
    dist_.SetSetupDat("[Version]\nSignature=\"$Chicago$\"\n" + setupDat);
    CopyText(installState.moduleFolder, MAX_PATH, (dist_.Path() + "\\").c_str());
    installState.infHandle = OpenSetupFile(dist_.File("SETUP.DAT").c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, installState.infHandle);
    CopyText(installState.groups[0].description, kValueSize, "Copying files...");
  }
  void TearDown() override {
    CloseSetupFile(installState.infHandle);
    ProgressWindowTest::TearDown();
  }
  void SetDestination(const std::string& folder) {
    CopyText(installState.destinationFolder, MAX_PATH, folder.c_str());
  }
  Distribution dist_;
  TempFolder target_{"dest"};
};

TEST_F(CopyTest, CopiesEveryLineFormIntoFoldersItMakes) {
  Load("[Files]\nreadme.txt\ndocs\\guide.txt,manual\\guide_en.txt\na.txt,b.txt,c.txt\nDATA\\x.txt,"
       "x.txt\n"
       "data\\y.txt,y.txt\n");
  dist_.AddFile("readme.txt", "readme");
  dist_.AddFile("manual\\guide_en.txt", "guide");
  dist_.AddFile("b.txt,c.txt", "comma");
  dist_.AddFile("x.txt", "x");
  dist_.AddFile("y.txt", "y");
  SetDestination(target_ / "Demo"); // its parent exists: the destination itself is made
  Send(0, 5);
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_EQ("readme", ReadTextFile(target_ / "Demo\\readme.txt"));
  EXPECT_EQ("guide", ReadTextFile(target_ / "Demo\\docs\\guide.txt"));
  EXPECT_EQ("comma", ReadTextFile(target_ / "Demo\\a.txt"));
  EXPECT_EQ("y", ReadTextFile(target_ / "Demo\\DATA\\y.txt"));
  EXPECT_EQ(5, progressCount);
  EXPECT_EQ("Copying files...",
            WindowText(GetDlgItem(installState.progressWindow, IDC_UPPER_TEXT)));
  EXPECT_EQ("data\\y.txt", WindowText(GetDlgItem(installState.progressWindow, IDC_LOWER_TEXT)));
}

// A run cut short may have left a replacement's copy (read-only, from a read-only source): the
// next replacement consumes it, and the file gets its source's attributes as a fresh one does.
TEST_F(CopyTest, ReplacesReadOnlyAndHiddenFilesAndJoinsARootWithoutDoubling) {
  Load("[Files]\nro.txt\nhidden.txt\nleft.txt\n");
  dist_.AddFile("ro.txt", "new ro");
  dist_.AddFile("hidden.txt", "new hidden");
  dist_.AddFile("left.txt", "new left");
  SetFileAttributesA(dist_.File("left.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteTextFile(target_ / "ro.txt", "old");
  WriteTextFile(target_ / "hidden.txt", "old");
  WriteTextFile(target_ / "left.txt", "old");
  WriteTextFile(target_ / "left.txt.kvs-new", "new l"); // cut short
  SetFileAttributesA((target_ / "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((target_ / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((target_ / "left.txt.kvs-new").c_str(), FILE_ATTRIBUTE_READONLY);
  SetDestination(target_.Path() + "\\");
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_EQ("new ro", ReadTextFile(target_ / "ro.txt"));
  EXPECT_EQ("new hidden", ReadTextFile(target_ / "hidden.txt"));
  EXPECT_EQ("new left", ReadTextFile(target_ / "left.txt"));
  EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY,
            GetFileAttributesA((target_ / "left.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ("hidden.txt left.txt ro.txt ", EntryNames(target_.Path()));
}

TEST_F(CopyTest, MissingSourceIsReportedAfterItsStepAndStopsTheGroup) {
  Load("[Files]\nfirst.txt\ndata.bin\nlast.txt\n");
  dist_.AddFile("first.txt", "1");
  dist_.AddFile("last.txt", "3");
  SetDestination(target_.Path());
  UiRobot robot;
  std::string shown;
  robot.Expect("copy error", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
    shown = w.MessageText();
    EXPECT_EQ("Setup Error", w.caption);
    EXPECT_EQ(LoadIconA(NULL, IDI_WARNING), w.Icon());
    EXPECT_EQ(installState.progressWindow, GetWindow(w.window, GW_OWNER));
    UiRobot::Click(w.window, IDOK);
  });
  EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_EQ(0u, shown.find("There was an error copying data.bin\n\n")) << shown;
  EXPECT_GT(shown.size(),
            std::string("There was an error copying data.bin\n\n").size()); // the reason
  EXPECT_EQ(2, progressCount);
  EXPECT_TRUE(FileExists(target_ / "first.txt"));
  EXPECT_FALSE(FileExists(target_ / "last.txt"));
}

TEST_F(CopyTest, OverLongPathsAreRefusedAndUnreadableLinesEndTheGroupQuietly) {
  std::string longName(200, 'n');
  Load("[Files]\nok.txt\n" + longName + "\n[Long]\nbefore.txt\n" + std::string(300, 'l') +
       "\nafter.txt\n");
  dist_.AddFile("ok.txt", "ok");
  dist_.AddFile("before.txt", "b");
  dist_.AddFile("after.txt", "a");
  SetDestination(target_.Path() + "\\" + std::string(60, 'd'));
  UiRobot robot;
  std::string shown;
  robot.Expect("copy error", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
    shown = w.MessageText();
    UiRobot::Click(w.window, IDOK);
  });
  EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_EQ(0u, shown.find("There was an error copying " + std::string(127, 'n') + "\n\n"))
      << shown;
  EXPECT_EQ(2, progressCount);

  // A line of more than 255 characters cannot be read: the rest of the group is skipped.
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "Long", 0));
  EXPECT_EQ(3, progressCount);
  EXPECT_FALSE(FileExists(installState.destinationFolder + std::string("\\after.txt")));
  EXPECT_TRUE(robot.Problems().empty()) << robot.Report();
}

TEST_F(CopyTest, ADestinationWhoseParentIsMissingFailsTheFirstCopy) {
  Load("[Files]\nreadme.txt\n[Empty]\n");
  dist_.AddFile("readme.txt", "r");
  SetDestination(target_ / "Apps\\Demo");
  UiRobot robot;
  robot.ExpectAndClick("copy error", IsMessageBox, IDOK);
  EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_FALSE(FolderExists(target_ / "Apps"));
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "Empty", 0)); // missing or empty: nothing
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "NoSuchSection", 0));
  EXPECT_TRUE(robot.AllMet()) << robot.Report();
}

// A read-only source gives a read-only copy, which must be removed all the same.
TEST_F(CopyTest, ACopyCutShortByAFullDriveLeavesNoTruncatedFile) {
  const char* small = TestDrive("SMALL_DRIVE");
  if (small == nullptr) {
    GTEST_SKIP() << MissingTestDrivesReason();
  }
  Load("[Files]\nbig.bin\n");
  dist_.AddFile("big.bin", std::string(2000000, 'b'));
  SetDestination(std::string(small) + "\\New");
  for (DWORD attributes : {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY}) {
    SCOPED_TRACE(attributes == FILE_ATTRIBUTE_READONLY ? "read-only source" : "plain source");
    SetFileAttributesA(dist_.File("big.bin").c_str(), attributes);
    UiRobot robot;
    robot.ExpectAndClick("copy error", IsMessageBox, IDOK);
    EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Files", 0));
    EXPECT_TRUE(robot.AllMet()) << robot.Report();
    EXPECT_FALSE(FileExists(installState.destinationFolder + std::string("\\big.bin")));
  }
  DeleteTree(installState.destinationFolder);
}

// A file another program has mapped for writing cannot be replaced, and under Wine its
// attributes cannot be set either; it must still count as there: kept, never removed.
TEST_F(CopyTest, ATargetMappedByAnotherProgramIsKeptNeverRemoved) {
  Load("[Files]\nmapped.dat\n");
  dist_.AddFile("mapped.dat", "new");
  const std::string mapped = target_ / "mapped.dat";
  WriteTextFile(mapped, "old");
  HANDLE file = CreateFileA(mapped.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, 0, NULL);
  HANDLE mapping = CreateFileMappingA(file, NULL, PAGE_READWRITE, 0, 0, NULL);
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
  CloseHandle(file); // the program goes on with its view alone
  ASSERT_NE(nullptr, view);
  ASSERT_FALSE(SetFileAttributesA(mapped.c_str(), FILE_ATTRIBUTE_NORMAL));
  SetDestination(target_.Path());
  UiRobot robot;
  robot.ExpectAndClick("copy error", IsMessageBox, IDOK);
  EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Files", 0));
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  EXPECT_TRUE(robot.AllMet()) << robot.Report();
  EXPECT_EQ("old", ReadTextFile(mapped));
  EXPECT_EQ("mapped.dat ", EntryNames(target_.Path())); // nothing left beside it
}

} // namespace
