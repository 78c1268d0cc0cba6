// The progress window's protocol and the copy of one group, in-process with real files.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/file_copy.h"
#include "robot/display_reader.h"
#include "robot/process_robot.h"
#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_api.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource.h"

namespace {

// Counts how often the progress window's changing parts (its two text lines and its bar) paint:
// the bar's WM_PAINT, and a text line's asking the window for its colours, which it does whenever
// it paints (also at once on a text set).
class PaintCounter {
public:
  explicit PaintCounter(HWND window) {
    for (HWND part : {window, GetDlgItem(window, IDC_PROGRESS_BAR)}) {
      parts_.push_back({part, (WNDPROC)SetWindowLongPtrA(part, GWLP_WNDPROC, (LONG_PTR)Count)});
    }
    paints_ = 0;
    counting_ = true;
  }
  ~PaintCounter() {
    counting_ = false;
    for (const Part& part : parts_) {
      SetWindowLongPtrA(part.window, GWLP_WNDPROC, (LONG_PTR)part.original);
    }
    parts_.clear();
  }
  int Paints() const {
    return paints_;
  }
  // Paints made while one lives are not counted.
  class Pause {
  public:
    Pause() : was_(counting_) {
      counting_ = false;
    }
    ~Pause() {
      counting_ = was_;
    }

  private:
    bool was_;
  };

private:
  struct Part {
    HWND window;
    WNDPROC original;
  };
  static LRESULT CALLBACK Count(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (counting_ && message == (window == parts_[0].window ? WM_CTLCOLORSTATIC : WM_PAINT)) {
      ++paints_;
    }
    for (const Part& part : parts_) {
      if (part.window == window) {
        return CallWindowProcA(part.original, window, message, wParam, lParam);
      }
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  static inline std::vector<Part> parts_;
  static inline int paints_ = 0;
  static inline bool counting_ = false;
};

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
  // The window's client area as the display shows it.
  Picture Shown() {
    Picture picture;
    std::string problem;
    EXPECT_TRUE(ReadClientOnDisplay(installState.progressWindow, &picture, &problem)) << problem;
    return picture;
  }
  // Whether the display shows what a full repaint of the window shows, wherever no other window
  // covers it: nothing stale, nothing missing. What the check paints is not the window's own.
  ::testing::AssertionResult ScreenIsCurrent() {
    PaintCounter::Pause pause;
    Picture shown = Shown();
    RedrawWindow(installState.progressWindow, NULL, NULL,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ShowOwnPainting();
    Picture repainted = Shown();
    size_t uncovered = 0;
    for (DWORD pixel : repainted.pixels) {
      uncovered += pixel != kCoveredPixel ? 1 : 0;
    }
    // Mostly the window's face where it is uncovered, else the display is not showing it at all.
    if (2 * PixelsOfColour(repainted, GetSysColor(COLOR_BTNFACE)) < uncovered) {
      return ::testing::AssertionFailure() << "the display does not show the window";
    }
    size_t differing = DifferingPixels(shown, repainted);
    if (differing == 0) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << differing << " of " << uncovered << " uncovered pixels differ from a full repaint";
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

// Steps set the bar's position at once but paint at most once a frame, however many come; a
// step that ends a frame shows all that was set before it; and a hidden bar stays hidden.
TEST_F(ProgressWindowTest, StepsPaintAtMostOnceAFrame) {
  if (!DisplayReadProblem().empty()) {
    GTEST_SKIP() << DisplayReadProblem();
  }
  ShowWindow(installState.progressWindow, SW_SHOW);
  Send(0, 1200);
  UpdateWindow(installState.progressWindow);
  progressFrameInterval = 250;
  {
    PaintCounter counter(installState.progressWindow);
    const DWORD start = GetTickCount();
    for (int i = 1; i <= 1200; ++i) {
      Send(1, 0);
      ASSERT_EQ(i, Position());
    }
    const DWORD frames = 1 + (GetTickCount() - start) / 250; // the first step may end one
    EXPECT_LE(counter.Paints(), (int)(3 * frames)) << "over " << frames << " frames";
  }
  progressFrameInterval = 0; // every step ends a frame
  SetDlgItemTextA(installState.progressWindow, IDC_LOWER_TEXT, "last.txt");
  Send(1, 0);
  Picture framed = Shown();
  PaintProgressNow();
  EXPECT_TRUE(ScreenIsCurrent());
  EXPECT_EQ(0u, DifferingPixels(framed, Shown())) << "the frame missed what was set before it";

  ShowWindow(bar_, SW_HIDE);
  Send(1, 0);
  Send(1, 0);
  PaintProgressNow();
  EXPECT_FALSE(IsWindowVisible(bar_));
  EXPECT_EQ(1203, progressCount);
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
  Load("[Files]\nro.txt\nhidden.txt\nleft.txt\nblocked.txt\n");
  dist_.AddFile("ro.txt", "new ro");
  dist_.AddFile("hidden.txt", "new hidden");
  dist_.AddFile("left.txt", "new left");
  dist_.AddFile("blocked.txt", "new blocked");
  // Where the copy beside the target cannot be created, the target is copied over in place.
  WriteTextFile(target_ / "blocked.txt", "old");
  CreateDirectoryA((target_ / "blocked.txt.kvs-new").c_str(), NULL);
  SetFileAttributesA(dist_.File("left.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteTextFile(target_ / "ro.txt", "old");
  WriteTextFile(target_ / "hidden.txt", "old");
  WriteTextFile(target_ / "left.txt", "old");
  WriteTextFile(target_ / "left.txt.kvs-new", "new l"); // cut short
  SetFileAttributesA((target_ / "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((target_ / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesA((target_ / "left.txt.kvs-new").c_str(), FILE_ATTRIBUTE_READONLY);
  SetDestination(target_.Path() + "\\");
  UiRobot robot;
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_TRUE(robot.Problems().empty()) << robot.Report();
  EXPECT_EQ("new blocked", ReadTextFile(target_ / "blocked.txt"));
  EXPECT_EQ("new ro", ReadTextFile(target_ / "ro.txt"));
  EXPECT_EQ("new hidden", ReadTextFile(target_ / "hidden.txt"));
  EXPECT_EQ("new left", ReadTextFile(target_ / "left.txt"));
  EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY,
            GetFileAttributesA((target_ / "left.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ("blocked.txt blocked.txt.kvs-new hidden.txt left.txt ro.txt ",
            EntryNames(target_.Path()));
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

// The target of line n of a long copy: 50 files a folder, as a folder of thousands would make
// every new file's name look-up slow under Wine.
std::string LongCopyTarget(int line) {
  return "d" + std::to_string(line / 50) + "\\f" + std::to_string(line) + ".txt";
}

// Reads the progress window after every step: its lower text line must name the line's target
// and its bar stand at the line's number. Clicks Cancel after one line.
class EveryStepChecker {
public:
  EveryStepChecker(HWND window, int cancelAfter) {
    window_ = window;
    lower_ = GetDlgItem(window, IDC_LOWER_TEXT);
    bar_ = GetDlgItem(window, IDC_PROGRESS_BAR);
    cancelAfter_ = cancelAfter;
    problems_.clear();
    original_ = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)Check);
  }
  ~EveryStepChecker() {
    SetWindowLongPtrA(window_, GWLP_WNDPROC, (LONG_PTR)original_);
  }
  const std::string& Problems() const {
    return problems_;
  }

private:
  static LRESULT CALLBACK Check(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CallWindowProcA(original_, window, message, wParam, lParam);
    if (message == WM_SETUP_PROGRESS && wParam != 0) {
      const int line = progressCount;
      const std::string lower = WindowText(lower_);
      const int position = (int)SendMessageA(bar_, PBM_GETPOS, 0, 0);
      if ((lower != LongCopyTarget(line) || position != line) && problems_.size() < 1000) {
        problems_ += "after line " + std::to_string(line) + ": \"" + lower + "\" at " +
                     std::to_string(position) + "\n";
      }
      if (line == cancelAfter_) {
        UiRobot::Click(window, IDC_CANCEL);
      }
    }
    return result;
  }
  static inline HWND window_, lower_, bar_;
  static inline WNDPROC original_;
  static inline int cancelAfter_ = 0;
  static inline std::string problems_;
};

// A long copy paints once a frame, not once a line; yet after every line its texts and bar are
// exact, and the screen is current whenever something opens over the window and at the end.
TEST_F(CopyTest, ALongCopyPaintsByFramesYetShowsTheCurrentLineWhenAsked) {
  if (!DisplayReadProblem().empty()) {
    GTEST_SKIP() << DisplayReadProblem();
  }
  const int kLines = 2000;
  std::string sections = "[Files]\n";
  for (int i = 1; i <= kLines; ++i) {
    sections += LongCopyTarget(i) + ",source.txt\n";
  }
  sections += "[Broken]\n" + LongCopyTarget(kLines + 1) + ",missing.txt\n";
  Load(sections);
  dist_.AddFile("source.txt", "s");
  SetDestination(target_.Path());
  ShowWindow(installState.progressWindow, SW_SHOW);
  Send(0, kLines + 1);
  UpdateWindow(installState.progressWindow);
  progressFrameInterval = INFINITE; // no frame ends: every paint comes from a point that asks

  UiRobot robot;
  robot.Expect("exit question", IsExitQuestion, [&](UiRobot&, const WindowSnapshot& w) {
    EXPECT_TRUE(ScreenIsCurrent()) << "under the exit question";
    UiRobot::Click(w.window, IDC_CANCEL); // Resume
  });
  robot.Expect("copy error", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
    EXPECT_TRUE(ScreenIsCurrent()) << "under the copy error";
    UiRobot::Click(w.window, IDOK);
  });
  EveryStepChecker steps(installState.progressWindow, kLines / 2);
  PaintCounter counter(installState.progressWindow);
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_TRUE(ScreenIsCurrent()) << "when the group ended";
  EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Broken", 0));
  EXPECT_EQ("", steps.Problems());
  EXPECT_EQ(kLines + 1, progressCount);
  // Paints come only from the points that ask for them (each group's start and end, the pump
  // finding the click, the question, the error message), a few for each of the three parts:
  // a handful, whatever the number of lines.
  EXPECT_LE(counter.Paints(), 30) << "over " << kLines + 1 << " lines";
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_EQ("s", ReadTextFile(target_ / LongCopyTarget(kLines)));
}

// The other program of the held-read test below: this test program run again on this case
// alone, with KVS_PROBE naming the progress window, the hold's control folder and a file. Once the
// read is held it writes there whether each changing part is visible (by its style and by
// IsWindowVisible), the lower text line and what the display shows, then lets the read go on.
TEST(WindowProbe, DISABLED_WritesWhatAnotherProgramSees) {
  char probe[1024] = "", control[MAX_PATH] = "", out[MAX_PATH] = "";
  unsigned long window = 0;
  GetEnvironmentVariableA("KVS_PROBE", probe, sizeof probe);
  ASSERT_EQ(3, sscanf(probe, "%lx|%259[^|]|%259[^|]", &window, control, out));
  ASSERT_TRUE(WaitUntil([&] { return FileExists(std::string(control) + "\\held"); }, 120000));
  WindowSnapshot w = TakeSnapshot((HWND)(UINT_PTR)window);
  std::string seen;
  for (int id : {IDC_UPPER_TEXT, IDC_LOWER_TEXT, IDC_PROGRESS_BAR}) {
    seen += (w.Control(id)->style & WS_VISIBLE) && w.Control(id)->visible ? "1" : "0";
  }
  Picture shown;
  std::string problem;
  EXPECT_TRUE(ReadClientOnDisplay(w.window, &shown, &problem)) << problem;
  WriteTextFile(
      out, seen + "\n" + w.Text(IDC_LOWER_TEXT) + "\n" +
               std::string((const char*)shown.pixels.data(), shown.pixels.size() * sizeof(DWORD)));
  WriteTextFile(std::string(control) + "\\release", "");
}

void StartWindowProbe(SetupProcess& probe, const ReadHold& hold, const std::string& out) {
  char self[MAX_PATH] = "", settings[1024];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  const std::string control = hold.Control("held");
  snprintf(settings, sizeof settings, "%lx|%s|%s",
           (unsigned long)(UINT_PTR)installState.progressWindow,
           control.substr(0, control.find_last_of('\\')).c_str(), out.c_str());
  SetEnvironmentVariableA("KVS_PROBE", settings);
  SetEnvironmentVariableA("GTEST_FILTER", "WindowProbe.*");
  SetEnvironmentVariableA("GTEST_ALSO_RUN_DISABLED_TESTS", "1");
  probe.Start(self);
  for (const char* name : {"KVS_PROBE", "GTEST_FILTER", "GTEST_ALSO_RUN_DISABLED_TESTS"}) {
    SetEnvironmentVariableA(name, NULL);
  }
}

// While the read of a big file is held, another program finds the window's parts visible and
// reads the big file's line, and the display shows that line and the full bar, as it does once
// the copy has ended. Over the lines before it the window paints by time, not by line.
TEST_F(CopyTest, AHeldBigFileIsOnTheScreenAndVisibleToOtherPrograms) {
  std::string sections = "[Files]\n";
  for (int i = 1; i <= 400; ++i) {
    sections += LongCopyTarget(i) + ",source.txt\n";
  }
  Load(sections + "big.bin\n");
  dist_.AddFile("source.txt", "s");
  dist_.AddFile("big.bin", std::string(2 << 20, 'b'));
  ReadHold hold(dist_.File("big.bin"), 1, ReadHold::kHold);
  if (!hold.Problem().empty() || !DisplayReadProblem().empty()) {
    GTEST_SKIP() << hold.Problem() << DisplayReadProblem();
  }
  SetDestination(target_.Path());
  ShowWindow(installState.progressWindow, SW_SHOW);
  Send(0, 401);
  TempFolder seen("seen");
  hold.Arm();
  SetupProcess probe;
  StartWindowProbe(probe, hold, seen / "held");
  PaintCounter counter(installState.progressWindow);
  const DWORD start = GetTickCount();
  EXPECT_EQ(1, CopyGroupFiles(installState.infHandle, "Files", 0));
  const DWORD frames = 2 + (GetTickCount() - start) / kProgressFrameIntervalMin;
  EXPECT_LE(counter.Paints(), (int)(3 * frames + 6)); // and the group's start and end
  DWORD code = 1;
  EXPECT_TRUE(probe.WaitForExit(60000, &code) && code == 0);
  Picture now = Shown(), then = now;
  const std::string held = ReadTextFile(seen / "held");
  EXPECT_EQ(0u, held.find("111\nbig.bin\n")) << held.substr(0, 40);
  const std::string bytes = held.substr(held.find('\n', 4) + 1);
  if (bytes.size() == now.pixels.size() * sizeof(DWORD)) {
    memcpy(then.pixels.data(), bytes.data(), bytes.size());
  } else {
    then.pixels.clear();
  }
  EXPECT_EQ(0u, DifferingPixels(then, now)) << "the display showed an older line";
}

// A read-only source gives a read-only copy, which must be removed all the same.
TEST_F(CopyTest, ACopyCutShortByAFullDriveLeavesNoTruncatedFileNorLosesAnOldOne) {
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

  // A new file one cluster too big for the room beside the old one and the old one's clusters
  // is not copied over it: that copy would fail too, and the old file would be lost.
  const std::string old(4096, 'o');
  WriteTextFile(installState.destinationFolder + std::string("\\big.bin"), old);
  DWORD sectors, bytes, freeClusters, clusters;
  ASSERT_TRUE(GetDiskFreeSpaceA((std::string(small) + "\\").c_str(), &sectors, &bytes,
                                &freeClusters, &clusters));
  const size_t cluster = (size_t)sectors * bytes;
  WriteTextFile(installState.destinationFolder + std::string("\\filler"),
                std::string((freeClusters - 2) * cluster, 'f'));
  SetFileAttributesA(dist_.File("big.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
  dist_.AddFile("big.bin", std::string(4 * cluster, 'n'));
  UiRobot robot;
  robot.ExpectAndClick("copy error", IsMessageBox, IDOK);
  EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Files", 0));
  EXPECT_TRUE(robot.AllMet()) << robot.Report();
  EXPECT_TRUE(old == ReadTextFile(installState.destinationFolder + std::string("\\big.bin")))
      << "the old file was lost";
  DeleteTree(installState.destinationFolder);
}

// Copying over the old file is tried only where the spare copy's name could not be made there;
// a copy that failed reading or writing would fail the same way in place, and the old file
// would be lost.
TEST(SpareCopy, OnlyARefusedNameFallsBackToACopyInPlace) {
  for (DWORD refused :
       {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS,
        ERROR_DIRECTORY, ERROR_CANNOT_MAKE, ERROR_PATH_NOT_FOUND, ERROR_FILENAME_EXCED_RANGE,
        ERROR_INVALID_NAME, ERROR_BAD_PATHNAME}) {
    EXPECT_TRUE(SpareCopyWasRefused(refused)) << refused;
  }
  // Read and write errors part-way; a full drive has a branch of its own.
  for (DWORD failed :
       {ERROR_CRC, ERROR_READ_FAULT, ERROR_WRITE_FAULT, ERROR_SECTOR_NOT_FOUND, ERROR_NOT_READY,
        ERROR_GEN_FAILURE, ERROR_IO_DEVICE, ERROR_NETNAME_DELETED, ERROR_UNEXP_NET_ERR,
        ERROR_SEM_TIMEOUT, ERROR_LOCK_VIOLATION, ERROR_HANDLE_EOF, ERROR_FILE_NOT_FOUND,
        ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_SUCCESS}) {
    EXPECT_FALSE(SpareCopyWasRefused(failed)) << failed;
  }
}

// A source that cannot be read part-way (a scratched disc; here a range another program has
// locked) fails the spare copy after it was made; the old file must stay whole, not be copied
// over with the same failure.
TEST_F(CopyTest, ASourceUnreadablePartWayKeepsTheOldFileWhole) {
  Load("[Files]\nlocked.bin\n");
  const DWORD size = 4 << 20;
  dist_.AddFile("locked.bin", std::string(size, 'n'));
  const std::string source = dist_.File("locked.bin");
  HANDLE holder =
      CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_TRUE(LockFile(holder, size - 4096, 0, 4096, 0));
  HANDLE reader =
      CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  char byte = 0;
  DWORD read = 0;
  SetFilePointer(reader, (LONG)size - 1, NULL, FILE_BEGIN);
  bool readable = ReadFile(reader, &byte, 1, &read, NULL) && read == 1;
  CloseHandle(reader);
  if (readable) {
    CloseHandle(holder);
    GTEST_SKIP() << "this system lets other handles read a locked range (Wine does): no read "
                    "error part-way to copy with";
  }
  const std::string old(100000, 'o');
  WriteTextFile(target_ / "locked.bin", old);
  SetDestination(target_.Path());
  UiRobot robot;
  robot.ExpectAndClick("copy error", IsMessageBox, IDOK);
  EXPECT_EQ(0, CopyGroupFiles(installState.infHandle, "Files", 0));
  CloseHandle(holder);
  EXPECT_TRUE(robot.AllMet()) << robot.Report();
  EXPECT_TRUE(old == ReadTextFile(target_ / "locked.bin")) << "the old file was lost";
  EXPECT_EQ("locked.bin ", EntryNames(target_.Path())); // no spare copy left
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
