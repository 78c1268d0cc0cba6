// The real setup.exe, started from a copied distribution folder and driven from outside.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "probe/runonce_probe.h"
#include "robot/display_reader.h"
#include "robot/process_robot.h"
#include "robot/ui_robot.h"
#include "support/test_support.h"
#include "ui/resources/resource.h"

namespace {

// Generous: where 32-bit programs run through qemu, setup.exe takes about a minute to start.
const DWORD kExitTimeoutMs = 180000;
// Wine's settings for setup.exe alone, such as the load order of its libraries.
const std::string kSetupAppDefaults = "Software\\Wine\\AppDefaults\\setup.exe";

HWND FindHostWindow(DWORD processId) {
  HWND found = NULL;
  WaitUntil(
      [&] {
        HWND window = NULL;
        while ((window = FindWindowExA(NULL, window, "KVSetupClass", NULL)) != NULL) {
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          if (owner == processId) {
            found = window;
            return true;
          }
        }
        return false;
      },
      90000);
  return found;
}

TEST(EndToEnd, BrokenSetupFileShowsTheErrorAndWritesNothing) {
  Distribution dist;
  dist.SetSetupDat("[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=Demo\nEXENAME=D\n"
                   "[KVSetup]\nTitle=T\nPath=" +
                   dist.Path() + "\\dest\n");
  SetupProcess setup;
  ASSERT_TRUE(setup.Start(dist.AddSetupExe()));
  HWND box = setup.WaitForWindow(IsMessageBox);
  ASSERT_NE(nullptr, box);
  WindowSnapshot shown = setup.Snapshot(box);
  EXPECT_EQ("Setup Error", shown.caption);
  EXPECT_EQ("There was an error initialising the setup file:\n\n" + dist.File("SETUP.DAT") +
                "\n\n<Missing Section>",
            shown.MessageText());
  setup.Click(box, IDOK);
  DWORD exitCode = 99;
  ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EXPECT_EQ(0, setup.CountVisibleWindows());
  EXPECT_FALSE(FileExists(dist.File("sizes.txt")));
  EXPECT_FALSE(FolderExists(dist.File("dest")));
}

TEST(EndToEnd, MissingSetupFileShowsTheFirstMessage) {
  Distribution dist;
  SetupProcess setup;
  ASSERT_TRUE(setup.Start(dist.AddSetupExe()));
  HWND box = setup.WaitForWindow(IsMessageBox);
  ASSERT_NE(nullptr, box);
  EXPECT_EQ("There was an error initialising the setup file:\n\n" + dist.File("SETUP.DAT"),
            setup.Snapshot(box).MessageText());
  setup.Click(box, IDOK);
  DWORD exitCode = 99;
  ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs, &exitCode));
  EXPECT_EQ(0u, exitCode);
}

// A system library that cannot be loaded (disabled by the load order) is reported, no crash.
TEST(EndToEnd, MissingSystemLibraryIsReported) {
  Distribution dist;
  dist.CopyExample();
  ScopedRegistryKey loadOrder(HKEY_CURRENT_USER, kSetupAppDefaults);
  SetRegistryString(HKEY_CURRENT_USER, kSetupAppDefaults + "\\DllOverrides", "setupapi", "");
  SetupProcess setup;
  ASSERT_TRUE(setup.Start(dist.AddSetupExe()));
  HWND box = setup.WaitForWindow(IsMessageBox);
  ASSERT_NE(nullptr, box) << setup.Describe();
  EXPECT_EQ(0u, setup.Snapshot(box).MessageText().find("Setup cannot load the system library "));
  EXPECT_NE(std::string::npos, setup.Snapshot(box).MessageText().find("\\setupapi.dll.\n\n"));
  setup.Click(box, IDOK);
  DWORD exitCode = 99;
  ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs, &exitCode));
  EXPECT_EQ(0u, exitCode);
}

TEST(EndToEnd, HostWindowStaysMinimizedEvenWhenStartedMaximized) {
  Distribution dist;
  dist.CopyExample();
  SetupProcess setup;
  ASSERT_TRUE(setup.Start(dist.AddSetupExe(), SW_SHOWMAXIMIZED));
  HWND page = setup.WaitForWindow(IsDestinationPage);
  ASSERT_NE(nullptr, page);
  HWND host = FindHostWindow(setup.ProcessId());
  ASSERT_NE(nullptr, host);
  EXPECT_TRUE(IsIconic(host));
  EXPECT_EQ("Kelvara Setup", WindowText(host));
  // Later attempts to move or size it are cancelled.
  RECT before;
  RECT after;
  GetWindowRect(host, &before);
  SetWindowPos(host, NULL, 10, 10, 500, 400, SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
  EXPECT_EQ("Kelvara Demo Setup", setup.Snapshot(page).caption);
  setup.Click(page, IDC_CANCEL);
  HWND question = setup.WaitForWindow(IsExitQuestion);
  ASSERT_NE(nullptr, question) << setup.Describe();
  GetWindowRect(host, &after);
  EXPECT_TRUE(EqualRect(&before, &after));
  setup.Click(question, IDC_NEXT); // Exit Setup
  DWORD exitCode = 99;
  ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EXPECT_EQ(0, setup.CountVisibleWindows());
}

std::string ReplaceLine(std::string text, const std::string& start, const std::string& line) {
  size_t at = text.find(start);
  size_t end = text.find('\n', at);
  return text.replace(at, end - at, line);
}

std::string DemoLink(const char* shellFolder) {
  return ShellFolder(shellFolder) + "\\Kelvara Demo.lnk";
}

const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kLayers[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

// The example distribution with its destination in a temporary folder, a runonce.exe planted
// beside setup.exe (the probe, which logs any start), and everything a run may change outside the
// destination prepared before it and put back after it: RunOnce values (with a "Setup" key, so
// "Wrapper" is due as well), a compatibility entry for the installed program, links, shell folder
// values, default_install's keys.
class DemoRun {
public:
  DemoRun() {
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
    DeleteLinks();
    dist.CopyExample();
    dist.SetSetupDat(
        ReplaceLine(ReadTextFile(dist.File("SETUP.DAT")), "Path=", "Path=" + destination));
    CopyFileA(RunOnceProbe::ExePath().c_str(), dist.File("runonce.exe").c_str(), FALSE);
    HKEY layers;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kLayers, 0, NULL, 0, KEY_SET_VALUE, NULL, &layers,
                        NULL) == ERROR_SUCCESS) {
      RegSetValueExA(layers, InstalledExe().c_str(), 0, REG_SZ, (const BYTE*)"WIN95", 6);
      RegCloseKey(layers);
    }
  }
  ~DemoRun() {
    DeleteLinks();
    if (hadLayers_) {
      DeleteRegistryValue(HKEY_CURRENT_USER, kLayers, InstalledExe());
    } else {
      DeleteRegistryTree(HKEY_CURRENT_USER, kLayers);
    }
    DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Kelvara");
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\Kelvara");
  }
  std::string InstalledExe() const {
    return destination + "\\KDemo.exe";
  }
  bool CompatibilityEntryKept() const {
    std::string data;
    return ReadRegistryValue(HKEY_CURRENT_USER, kLayers, InstalledExe(), &data);
  }
  // Starts setup.exe and goes through both pages with their defaults.
  bool StartAndAcceptDefaults() {
    if (!setup.Start(dist.AddSetupExe())) {
      return false;
    }
    for (auto page : {IsDestinationPage, IsOptionsPage}) {
      HWND window = setup.WaitForWindow(page);
      if (window == NULL) {
        return false;
      }
      setup.Click(window, IDC_NEXT);
    }
    return true;
  }
  // Answers a message box with OK; returns its text.
  std::string AnswerMessage(DWORD timeoutMs = 180000) {
    HWND box = setup.WaitForWindow(IsMessageBox, timeoutMs);
    if (box == NULL) {
      return "<no message box>\n" + setup.Describe();
    }
    std::string text = setup.Snapshot(box).MessageText();
    setup.Click(box, IDOK);
    setup.WaitForWindowGone(box);
    return text;
  }
  // Waits for setup.exe and for any runonce.exe it started; false on timeout.
  bool WaitForTheEnd() {
    DWORD exitCode = 99;
    return setup.WaitForExit(kExitTimeoutMs, &exitCode) && exitCode == 0 &&
           WaitUntil([&] { return !RunOnceProbe::Running(setup.ProcessId()); }, 30000);
  }

private:
  static constexpr const char* kShellFolders =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  static void DeleteLinks() {
    DeleteFileA(DemoLink("Programs").c_str());
    DeleteFileA(DemoLink("Desktop").c_str());
  }
  struct View { // machine-wide keys as the 32-bit installer sees them
    View() {
      registryView = KEY_WOW64_32KEY;
    }
    ~View() {
      registryView = 0;
    }
  } view_;
  SavedRegistryValue grpConv_{HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv"};
  SavedRegistryValue wrapper_{HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper"};
  SavedRegistryValue programs_{HKEY_CURRENT_USER, kShellFolders, "Programs"};
  SavedRegistryValue desktop_{HKEY_CURRENT_USER, kShellFolders, "Desktop"};
  const bool hadLayers_ = RegistryKeyExists(HKEY_CURRENT_USER, kLayers);

public:
  ScopedRegistryKey runOnceSetup{HKEY_LOCAL_MACHINE, std::string(kRunOnce) + "\\Setup"};
  RunOnceProbe probe;
  Distribution dist;
  TempFolder target{"target"};
  const std::string destination = target / "Kelvara Demo";
  SetupProcess setup;
};

// Which icon a message box shows, told by its pixels on the display (icons are per-process
// objects under Wine, so its handle says nothing here): each candidate is drawn over a copy of
// the shown picture the way the icon control draws; the one that changes the least is shown.
std::string ShownIcon(HWND box, std::string* scores) {
  HWND control = NULL;
  while ((control = FindWindowExA(box, control, "Static", NULL)) != NULL &&
         (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
  }
  if (control == NULL) {
    return "<no icon control>";
  }
  RECT area;
  GetClientRect(control, &area);
  MapWindowPoints(control, NULL, (POINT*)&area, 2);
  Picture picture;
  std::string problem;
  if (!ReadDisplay(area, &picture, &problem)) {
    *scores += problem;
    return "<display unread>";
  }
  const int width = picture.width, height = picture.height, count = width * height;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height; // top-down rows, as the picture's
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = NULL;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const std::vector<BYTE> shown((const BYTE*)picture.pixels.data(),
                                (const BYTE*)picture.pixels.data() + 4 * count);
  const struct {
    const char* name;
    HICON icon;
  } candidates[] = {{"program", LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_SETUP))},
                    {"question", LoadIconA(NULL, IDI_QUESTION)},
                    {"error", LoadIconA(NULL, IDI_HAND)},
                    {"warning", LoadIconA(NULL, IDI_EXCLAMATION)},
                    {"information", LoadIconA(NULL, IDI_ASTERISK)},
                    {"application", LoadIconA(NULL, IDI_APPLICATION)}};
  std::string best = "<none>";
  long bestScore = -1;
  for (const auto& candidate : candidates) {
    memcpy(bits, shown.data(), shown.size());
    DrawIconEx(memory, 0, 0, candidate.icon, width, height, 0, NULL, DI_NORMAL);
    GdiFlush();
    long score = 0;
    for (int i = 0; i < 4 * count; ++i) {
      score += i % 4 == 3 ? 0 : abs((int)((BYTE*)bits)[i] - (int)shown[i]); // colours alone
    }
    *scores += std::string(candidate.name) + "=" + std::to_string(score) + " ";
    if (bestScore < 0 || score < bestScore) {
      best = candidate.name;
      bestScore = score;
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
  return best;
}

// The typical run: defaults accepted, the option left ticked, everything installed and every
// finishing step taken. Planted beside setup.exe too: libraries named as those it loads, which
// the load order prefers to the system's (as Windows does for a name it does not count as
// known); each would log its load into the probe's log.
TEST(EndToEnd, TypicalRunInstallsTheExampleDistribution) {
  DemoRun run;
  const std::string& destination = run.destination;
  SetupProcess& setup = run.setup;
  const std::string probe = RunOnceProbe::ExePath();
  const std::string planted = probe.substr(0, probe.rfind('\\')) + "\\planted.dll";
  ScopedRegistryKey loadOrder(HKEY_CURRENT_USER, kSetupAppDefaults);
  for (const std::string name : {"comctl32", "setupapi"}) {
    ASSERT_TRUE(CopyFileA(planted.c_str(), run.dist.File(name + ".dll").c_str(), FALSE));
    SetRegistryString(HKEY_CURRENT_USER, kSetupAppDefaults + "\\DllOverrides", name,
                      "native,builtin");
  }
  ASSERT_TRUE(setup.Start(run.dist.AddSetupExe()));
  HWND page = setup.WaitForWindow(IsDestinationPage);
  ASSERT_NE(nullptr, page) << setup.Describe();
  WindowSnapshot destinationPage = setup.Snapshot(page);
  EXPECT_EQ(destination, destinationPage.Text(IDC_FOLDER_LABEL));
  EXPECT_FALSE(destinationPage.Control(IDC_BACK)->enabled);
  setup.Click(page, IDC_NEXT);

  HWND options = setup.WaitForWindow(IsOptionsPage);
  ASSERT_NE(nullptr, options) << setup.Describe();
  WindowSnapshot optionsPage = setup.Snapshot(options);
  EXPECT_EQ("Kelvara Demo Setup", optionsPage.caption);
  EXPECT_EQ("Demo Song", optionsPage.Text(IDC_OPTION1));
  EXPECT_EQ(BST_CHECKED, SendMessageA(GetDlgItem(options, IDC_OPTION1), BM_GETCHECK, 0, 0));
  EXPECT_FALSE(optionsPage.Control(IDC_OPTION2)->visible);
  EXPECT_FALSE(optionsPage.Control(IDC_OPTION2_SIZE)->visible);
  EXPECT_EQ("0.00 MB", optionsPage.Text(IDC_OPTION1_SIZE)); // one small file: a cluster
  EXPECT_NE(std::string::npos, optionsPage.Text(IDC_REQUIRED_VALUE).find(" MB"));
  EXPECT_NE(std::string::npos, optionsPage.Text(IDC_AVAILABLE_VALUE).find(" MB"));
  setup.Click(options, IDC_NEXT);

  HWND done = setup.WaitForWindow(IsMessageBox, 180000);
  ASSERT_NE(nullptr, done) << setup.Describe();
  WindowSnapshot finished = setup.Snapshot(done);
  EXPECT_EQ("Kelvara Demo Setup", finished.caption);
  EXPECT_EQ("Setup has finished installing Kelvara Demo on your computer.", finished.MessageText());
  // The program's own icon, never a system one.
  std::string scores;
  EXPECT_TRUE(WaitUntil([&] { return ShownIcon(done, &(scores = "")) == "program"; }, 20000))
      << scores;
  setup.Click(done, IDOK);
  ASSERT_TRUE(run.WaitForTheEnd());

  // Files, each at its target with its content.
  const Distribution& dist = run.dist;
  EXPECT_EQ(ReadTextFile(dist.File("KDemo.exe")), ReadTextFile(destination + "\\KDemo.exe"));
  EXPECT_EQ(ReadTextFile(dist.File("DATA\\LEVELS.DAT")),
            ReadTextFile(destination + "\\data\\levels.dat"));
  EXPECT_EQ(ReadTextFile(dist.File("manual\\guide_en.txt")),
            ReadTextFile(destination + "\\help\\guide.txt"));
  EXPECT_EQ(ReadTextFile(dist.File("manual\\faq.txt,v2")),
            ReadTextFile(destination + "\\help\\faq.txt"));
  EXPECT_EQ(ReadTextFile(dist.File("song\\demo.mid")),
            ReadTextFile(destination + "\\song\\demo.mid"));
  // default_install with the destination substituted.
  std::string value;
  EXPECT_TRUE(
      ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Kelvara\\Demo", "InstallDir", &value));
  EXPECT_EQ(destination, std::string(value.c_str()));
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Kelvara\\Demo", "Version", &value));
  EXPECT_EQ("1.0", std::string(value.c_str()));
  char ini[MAX_PATH] = "";
  GetPrivateProfileStringA("Settings", "InstallDir", "", ini, sizeof ini,
                           (destination + "\\kdemo.ini").c_str());
  EXPECT_EQ(destination, std::string(ini));
  EXPECT_TRUE(FileExists(dist.File("sizes.txt")));
  // Both links, in the folders the shell folder values name after the run (Wine refreshes them
  // from its own settings while making a link), which are the private prefix's own.
  for (const char* where : {"Programs", "Desktop"}) {
    const std::string file = DemoLink(where);
    EXPECT_EQ(0u, file.find("C:\\users\\")) << file;
    Link link = ReadLink(file);
    ASSERT_TRUE(link.loaded) << file;
    EXPECT_EQ(run.InstalledExe(), link.path) << where;
    EXPECT_EQ(destination, link.workingDirectory) << where;
    EXPECT_EQ(SW_SHOWNORMAL, link.showCommand) << where;
  }
  // RunOnce values ("Wrapper" because the "Setup" key is there), the system's runonce started
  // (and nothing planted run or loaded), the compatibility entry of the installed program gone.
  DWORD type = 0;
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv", &value, &type));
  EXPECT_EQ(std::string("grpconv -o", 11), value);
  EXPECT_EQ((DWORD)REG_SZ, type);
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper", &value, &type));
  EXPECT_EQ(std::string("runonce", 8), value);
  EXPECT_EQ(RunOnceProbe::SystemStart(), run.probe.Log());
  EXPECT_FALSE(run.CompatibilityEntryKept());
}

// A copy that fails and a copy cancelled with "Exit Setup" both end with the failure message,
// and none of the finishing steps is taken.
TEST(EndToEnd, FailedOrCancelledRunTakesNoFinishingStep) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "missing source file");
    DemoRun run;
    std::unique_ptr<ReadHold> hold;
    if (cancel) {
      // The copy is held at the third of five lines of a group of its own (its size given, so
      // that measuring reads none of them) until the click waits in the queue.
      std::string setupDat =
          ReplaceLine(ReadTextFile(run.dist.File("SETUP.DAT")), "Option3=",
                      "Option3=Demo Song\nGroup4=Bulk.Files\nDescription4=Bulk\nSize4=20480") +
          "\n[Bulk.Files]\n";
      for (int i = 0; i < 5; ++i) {
        std::string name = "bulk\\file" + std::to_string(i) + ".dat";
        run.dist.AddFile(name, std::string(4096, (char)('a' + i)));
        setupDat += name + "\n";
      }
      run.dist.SetSetupDat(setupDat);
      hold.reset(new ReadHold(run.dist.File("bulk\\file2.dat"), 1, ReadHold::kHold));
      if (!hold->Problem().empty()) {
        GTEST_SKIP() << hold->Problem();
      }
      hold->Arm();
    } else {
      DeleteFileA(run.dist.File("manual\\guide_en.txt").c_str());
    }
    ASSERT_TRUE(run.StartAndAcceptDefaults()) << run.setup.Describe();
    if (cancel) {
      ASSERT_TRUE(hold->WaitHeld(180000)) << run.setup.Describe();
      HWND progress = run.setup.WaitForWindow([](const WindowSnapshot& w) {
        return IsProgressWindow(w) && w.Control(IDC_CANCEL)->visible;
      });
      ASSERT_NE(nullptr, progress) << run.setup.Describe();
      run.setup.Click(progress, IDC_CANCEL);
      hold->Release();
      HWND question = run.setup.WaitForWindow(IsExitQuestion);
      ASSERT_NE(nullptr, question) << run.setup.Describe();
      // The held file was finished; the next line was not read.
      EXPECT_EQ(std::string(4096, 'c'), ReadTextFile(run.destination + "\\bulk\\file2.dat"));
      EXPECT_FALSE(FileExists(run.destination + "\\bulk\\file3.dat"));
      run.setup.Click(question, IDC_NEXT); // Exit Setup
    } else {
      EXPECT_EQ(0u,
                run.AnswerMessage().find("There was an error copying manual\\guide_en.txt\n\n"));
    }
    EXPECT_EQ("Setup did not complete successfully!", run.AnswerMessage());
    ASSERT_TRUE(run.WaitForTheEnd());

    std::string value;
    EXPECT_FALSE(
        ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Kelvara\\Demo", "InstallDir", &value));
    EXPECT_FALSE(FileExists(DemoLink("Programs")));
    EXPECT_FALSE(FileExists(DemoLink("Desktop")));
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv", &value));
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper", &value));
    EXPECT_EQ("", run.probe.Log());
    EXPECT_TRUE(run.CompatibilityEntryKept());
  }
}

// ---- Runs cut short -----------------------------------------------------------------------------
// setup.exe is killed outright, as a power cut or a task manager would end it, at seeded moments
// of the copy and of the finishing steps, over the example with a bulk group, installed over an
// earlier installation that holds old versions of half the files. After every kill each file must
// be its old version, absent, complete, or the one file being copied; a run to the end must then
// leave what a clean install leaves. Moments are picked by watching the progress window's texts,
// the files and the registry, never by waiting a time, so what a kill tests does not depend on
// the machine's speed. KVS_CUT_SEED and KVS_CUT_KILLS make the long run (scripts/cut_short.sh);
// without them a fixed sample of three kills runs.

struct Held {
  DWORD attributes;
  std::string content;
};
using Contents = std::map<std::string, Held>; // by path below the root; folders end in "\"

void ReadContents(const std::string& root, const std::string& relative, Contents* contents) {
  ForEachEntry(JoinPath(root, relative), [&](const WIN32_FIND_DATAA& entry) {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const std::string folder = relative + entry.cFileName + "\\";
      (*contents)[folder] = {FILE_ATTRIBUTE_DIRECTORY, ""};
      ReadContents(root, folder, contents);
    } else {
      const std::string file = relative + entry.cFileName;
      (*contents)[file] = {entry.dwFileAttributes & (FILE_ATTRIBUTE_READONLY |
                                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                           ReadTextFile(JoinPath(root, file))};
    }
  });
}

Contents ContentsOf(const std::string& root) {
  Contents contents;
  ReadContents(root, "", &contents);
  return contents;
}

std::string Differences(const Contents& expected, const Contents& found) {
  std::string differences;
  for (const auto& [path, held] : found) {
    auto wanted = expected.find(path);
    if (wanted == expected.end()) {
      differences += " extra:" + path;
    } else if (wanted->second.content != held.content) {
      differences += " content:" + path;
    } else if (wanted->second.attributes != held.attributes) {
      differences += " attributes:" + path;
    }
  }
  for (const auto& [path, held] : expected) {
    differences += found.count(path) == 0 ? " missing:" + path : "";
  }
  return differences;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const char kReplacementEnding[] = ".kvs-new";

// What a kill left: every file unchanged since the run began ("old"), as a clean install has it
// ("complete"), or the one file being copied, a target or a replacement's copy holding the start
// of the new file. Nothing that was there may be gone but a replacement's copy taken into place.
// Returns the faults, empty when there are none; counts what it found.
struct Verdict {
  std::string faults;
  int old = 0, complete = 0, inProgress = 0;
  std::string note; // the file in progress and how much of it
};

Verdict Judge(const Contents& before, const Contents& after, const Contents& clean) {
  Verdict verdict;
  for (const auto& [path, held] : after) {
    auto was = before.find(path);
    auto full = clean.find(path);
    if (held.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (was == before.end() && full == clean.end()) {
        verdict.faults += " stray folder:" + path;
      }
      continue;
    }
    if (was != before.end() && was->second.content == held.content) {
      ++verdict.old; // its attributes may already be reset for the copy
      continue;
    }
    if (full != clean.end() && full->second.content == held.content) {
      ++verdict.complete;
      continue;
    }
    const std::string target =
        EndsWith(path, kReplacementEnding) ? path.substr(0, path.size() - 8) : path;
    auto wanted = clean.find(target);
    if (wanted == clean.end()) {
      verdict.faults += " stray:" + path;
    } else if (wanted->second.content.compare(0, held.content.size(), held.content) != 0) {
      verdict.faults += " garbled:" + path;
    } else {
      ++verdict.inProgress;
      verdict.note += " " + path + " (" + std::to_string(held.content.size()) + " of " +
                      std::to_string(wanted->second.content.size()) + " bytes)";
    }
  }
  if (verdict.inProgress > 1) {
    verdict.faults += " more than one file in progress:" + verdict.note;
  }
  for (const auto& [path, held] : before) {
    if (after.count(path) == 0 && !EndsWith(path, kReplacementEnding)) {
      verdict.faults += " removed:" + path;
    }
  }
  return verdict;
}

// Seeded bytes, different for every file and version, so that a prefix tells them apart.
std::string Bytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = (char)(seed >> 16);
  }
  return bytes;
}

const char* const kExampleTargets[] = {"KDemo.exe",       "readme.txt",    "data\\levels.dat",
                                       "help\\guide.txt", "help\\faq.txt", "song\\demo.mid"};
// Sizes around the copy's 64 KiB steps and files large enough to be caught inside.
const size_t kBulkSizes[] = {0,     1,      300, 4096,    4097,    65535, 65536,
                             65537, 150000, 700, 1500000, 3000000, 20,    2500000};

enum class Moment {
  kInsideFile,
  kBetweenFiles,
  kIniUpdate,
  kCompleting,
  kSettingsWritten,
  kProgramsLink,
  kDesktopLink,
  kRunOnceWritten,
  kFinishedMessage,
  kCount
};
const char* const kMomentNames[] = {
    "inside a file's copy", "between two files", "INI update begun",
    "completing shown",     "settings written",  "Programs link made",
    "Desktop link made",    "RunOnce written",   "finished message"};

struct KillAt {
  Moment moment;
  size_t file = 0; // the target, for the copy's moments
  int read = 1;    // inside a file: the read of its source that is never let through
};

const DWORD kChunk = 65536; // what the platform's copy asks for and writes at a time

// Reads of a source of size bytes by the copy under Wine: one per whole chunk; a last, shorter
// chunk is read until the end is met (two reads), and the copy's last request meets the end once
// more. Held at read r, the copy has written r - 1 chunks, and the whole file once the last read
// comes.
int ReadsOf(size_t size) {
  return (int)(size / kChunk) + (size % kChunk != 0 ? 3 : 1);
}

class CutShortCampaign {
public:
  CutShortCampaign() {
    std::string setupDat =
        ReplaceLine(ReadTextFile(run_.dist.File("SETUP.DAT")), "Option3=",
                    "Option3=Demo Song\nGroup4=Bulk.Files\nDescription4=Copying bulk files...") +
        "\n[Bulk.Files]\n";
    const char* const exampleSources[] = {"KDemo.exe",          "readme.txt",
                                          "DATA\\LEVELS.DAT",   "manual\\guide_en.txt",
                                          "manual\\faq.txt,v2", "song\\demo.mid"};
    for (size_t i = 0; i < 6; ++i) {
      targets_.push_back(kExampleTargets[i]);
      sources_.push_back(run_.dist.File(exampleSources[i]));
    }
    for (size_t i = 0; i < sizeof kBulkSizes / sizeof kBulkSizes[0]; ++i) {
      const std::string name = "bulk\\part" + std::to_string(i) + ".dat";
      run_.dist.AddFile(name, Bytes(kBulkSizes[i], (unsigned)i));
      setupDat += name + "\n";
      targets_.push_back(name);
      sources_.push_back(run_.dist.File(name));
    }
    run_.dist.SetSetupDat(setupDat);
    for (const std::string& source : sources_) {
      SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY); // as on a disc
    }
    setupExe_ = run_.dist.AddSetupExe();
  }

  const std::string& Destination() const {
    return run_.destination;
  }
  const std::vector<std::string>& Targets() const {
    return targets_;
  }
  // How often the copy reads the target's source.
  int Reads(size_t file) const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExA(sources_[file].c_str(), GetFileExInfoStandard, &data);
    return ReadsOf(data.nFileSizeLow);
  }
  // Why reads cannot be held here; empty when they can.
  std::string HoldProblem() const {
    ReadHold hold(sources_[0], 1, ReadHold::kKill);
    return hold.Problem();
  }

  // Old versions of every other target, some read-only or hidden, and the INI file, as an
  // earlier version left them.
  void LayDownEarlierInstallation() {
    DeleteTree(run_.destination);
    for (size_t i = 1; i < targets_.size(); i += 2) {
      const std::string path = run_.destination + "\\" + targets_[i];
      MakeFolders(path.substr(0, path.find_last_of('\\')));
      WriteTextFile(path, Bytes(1000 + 5000 * i, 1000 + (unsigned)i));
      SetFileAttributesA(path.c_str(), i % 4 == 1   ? FILE_ATTRIBUTE_READONLY
                                       : i % 3 == 0 ? FILE_ATTRIBUTE_HIDDEN
                                                    : FILE_ATTRIBUTE_NORMAL);
    }
    WriteTextFile(run_.destination + "\\kdemo.ini", "[Settings]\r\nInstallDir=C:\\Older\r\n");
  }

  // Everything a run writes outside the destination taken back, and the compatibility entry
  // that the run clears put back.
  void ResetSettings() const {
    DeleteFileA(DemoLink("Programs").c_str());
    DeleteFileA(DemoLink("Desktop").c_str());
    DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Kelvara");
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\Kelvara");
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
    HKEY layers;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kLayers, 0, NULL, 0, KEY_SET_VALUE, NULL, &layers,
                        NULL) == ERROR_SUCCESS) {
      RegSetValueExA(layers, run_.InstalledExe().c_str(), 0, REG_SZ, (const BYTE*)"WIN95", 6);
      RegCloseKey(layers);
    }
  }

  // What a run leaves outside the destination: default_install's values, the links, the RunOnce
  // values and the compatibility entry.
  std::string Settings() const {
    std::string settings;
    const struct {
      HKEY root;
      const char* path;
      const char* name;
    } values[] = {{HKEY_CURRENT_USER, "Software\\Kelvara\\Demo", "InstallDir"},
                  {HKEY_LOCAL_MACHINE, "Software\\Kelvara\\Demo", "Version"},
                  {HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv"},
                  {HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper"}};
    for (const auto& value : values) {
      std::string data = "<none>";
      ReadRegistryValue(value.root, value.path, value.name, &data);
      settings += std::string(value.name) + "=" + data.c_str() + "; ";
    }
    for (const char* where : {"Programs", "Desktop"}) {
      Link link = ReadLink(DemoLink(where));
      settings += std::string(where) + " link=" +
                  (link.loaded ? link.path + "|" + link.workingDirectory + "|" +
                                     std::to_string(link.showCommand)
                               : "<none>") +
                  "; ";
    }
    return settings + "compatibility entry " + (run_.CompatibilityEntryKept() ? "kept" : "gone");
  }

  // Starts setup.exe and takes both pages with their defaults; the hold is armed once the
  // options page is up, after the sources were measured and before anything is copied.
  bool Start(SetupProcess& setup, const ReadHold* hold = nullptr) const {
    if (!setup.Start(setupExe_)) {
      return false;
    }
    for (auto page : {IsDestinationPage, IsOptionsPage}) {
      HWND window = setup.WaitForWindow(page);
      if (window == NULL) {
        return false;
      }
      if (hold != nullptr && page == IsOptionsPage) {
        hold->Arm();
      }
      setup.Click(window, IDC_NEXT);
    }
    return true;
  }

  // A run to its end; returns what went wrong, empty when nothing did.
  std::string RunToTheEnd() const {
    SetupProcess setup;
    if (!Start(setup)) {
      return "the pages did not come: " + setup.Describe();
    }
    HWND box = setup.WaitForWindow(IsMessageBox, kExitTimeoutMs);
    if (box == NULL) {
      return "no message: " + setup.Describe();
    }
    const std::string text = setup.Snapshot(box).MessageText();
    setup.Click(box, IDOK);
    DWORD exitCode = 99;
    if (!setup.WaitForExit(kExitTimeoutMs, &exitCode) || exitCode != 0 ||
        !WaitUntil([&] { return !RunOnceProbe::Running(setup.ProcessId()); }, 30000)) {
      return "no end";
    }
    return text == "Setup has finished installing Kelvara Demo on your computer." ? "" : text;
  }

  // A run killed at the moment asked for; returns what was seen when it was killed, beginning
  // with "missed" when the moment never came.
  std::string RunAndKill(const KillAt& at) const {
    std::unique_ptr<ReadHold> hold;
    if (at.moment == Moment::kInsideFile) {
      hold.reset(new ReadHold(sources_[at.file], at.read, ReadHold::kKill));
    } else if (at.moment == Moment::kBetweenFiles) {
      hold.reset(new ReadHold(sources_[at.file], 1, ReadHold::kHold));
    } else if (at.moment == Moment::kIniUpdate) {
      hold.reset(new ReadHold(run_.destination + "\\kdemo.ini", 1, ReadHold::kKill));
    }
    if (hold != nullptr && !hold->Problem().empty()) {
      return "missed: " + hold->Problem();
    }
    SetupProcess setup;
    if (!Start(setup, hold.get())) {
      return "missed: the pages did not come: " + setup.Describe();
    }
    const std::string stampAtStart = Stamp(at.moment);
    bool clicked = false;
    std::string seen;
    bool reached = WaitUntil(
        [&] {
          HWND progress = NULL;
          HWND question = NULL;
          if (setup.WaitForExit(0, nullptr)) {
            // The hold reports a kill before it makes it, so a kill is never taken for the end.
            seen = hold != nullptr && hold->WaitDone(0) ? ReadTextFile(hold->Control("done"))
                                                        : "the end";
            return true;
          }
          if (FindDialog(setup.ProcessId(), &progress, &question)) {
            seen = "a message box";
            return true; // nothing more will happen without an answer
          }
          const std::string lower =
              progress != NULL ? WindowText(GetDlgItem(progress, IDC_LOWER_TEXT)) : "";
          switch (at.moment) {
          case Moment::kInsideFile:
          case Moment::kIniUpdate:
            return false; // the hold kills it
          case Moment::kBetweenFiles:
            if (!clicked && progress != NULL && hold->WaitHeld(0)) {
              setup.Click(progress, IDC_CANCEL); // answered by the pump before the next file
              hold->Release();
              clicked = true;
            }
            seen = "the exit question after " + lower;
            return question != NULL;
          case Moment::kCompleting:
            seen = lower;
            return lower == "Completing installation...";
          default:
            seen = "a change of what that step writes";
            return Stamp(at.moment) != stampAtStart;
          }
        },
        kExitTimeoutMs, 5);
    if (!setup.Kill()) {
      return "missed: could not be killed";
    }
    // The holds make their moments come whatever the machine's speed; a moment picked by
    // watching may be overtaken by the run's end, which is then where the kill fell.
    const bool held = at.moment == Moment::kInsideFile || at.moment == Moment::kIniUpdate;
    if (!reached || (held && seen.compare(0, 14, "killed at read") != 0) ||
        (at.moment == Moment::kBetweenFiles && seen.compare(0, 17, "the exit question") != 0)) {
      return "missed (" + seen + ")";
    }
    return seen;
  }

private:
  // The last change of what a finishing step writes: a registry key's or a file's time.
  std::string Stamp(Moment moment) const {
    FILETIME time = {0, 0};
    bool there = false;
    if (moment == Moment::kSettingsWritten || moment == Moment::kRunOnceWritten) {
      HKEY key;
      const bool settings = moment == Moment::kSettingsWritten;
      if (RegOpenKeyExA(settings ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                        settings ? "Software\\Kelvara\\Demo" : kRunOnce, 0,
                        KEY_QUERY_VALUE | registryView, &key) == ERROR_SUCCESS) {
        there = RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                                 &time) == ERROR_SUCCESS;
        RegCloseKey(key);
      }
    } else if (moment == Moment::kProgramsLink || moment == Moment::kDesktopLink) {
      WIN32_FILE_ATTRIBUTE_DATA data;
      there = GetFileAttributesExA(
                  DemoLink(moment == Moment::kProgramsLink ? "Programs" : "Desktop").c_str(),
                  GetFileExInfoStandard, &data) != FALSE;
      time = data.ftLastWriteTime;
    }
    return there ? std::to_string(time.dwHighDateTime) + ":" + std::to_string(time.dwLowDateTime)
                 : "none";
  }

  struct Dialogs {
    DWORD processId;
    HWND progress, question, box;
  };
  static BOOL CALLBACK SortDialog(HWND window, LPARAM data) {
    Dialogs* found = reinterpret_cast<Dialogs*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (process != found->processId || !IsWindowVisible(window) ||
        lstrcmpA(className, "#32770") != 0) {
      return TRUE;
    }
    if (GetDlgItem(window, IDC_PROGRESS_BAR) != NULL) {
      found->progress = window;
    } else if (WindowText(window) == "Exit Setup") {
      found->question = window;
    } else if (GetDlgItem(window, 0xFFFF) != NULL && GetDlgItem(window, IDC_PICTURE) == NULL) {
      found->box = window; // as IsMessageBox tells them
    }
    return TRUE;
  }
  // Whether a message box of the process is up; also finds its progress window and exit question.
  static bool FindDialog(DWORD processId, HWND* progress, HWND* question) {
    Dialogs found = {processId, NULL, NULL, NULL};
    EnumWindows(SortDialog, reinterpret_cast<LPARAM>(&found));
    *progress = found.progress;
    *question = found.question;
    return found.box != NULL;
  }

  DemoRun run_;
  std::vector<std::string> targets_, sources_;
  std::string setupExe_;
};

unsigned EnvironmentNumber(const char* name, unsigned otherwise) {
  char text[32];
  DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  return length > 0 && length < sizeof text ? (unsigned)strtoul(text, NULL, 10) : otherwise;
}

TEST(EndToEnd, RunsCutShortLeaveOldOrNewFilesAndARerunEndsLikeACleanInstall) {
  const unsigned seed = EnvironmentNumber("KVS_CUT_SEED", 1);
  const unsigned kills = EnvironmentNumber("KVS_CUT_KILLS", 0); // 0: the fixed sample
  const DWORD start = GetTickCount();
  CutShortCampaign campaign;
  const std::string holdProblem = campaign.HoldProblem();
  if (!holdProblem.empty()) {
    GTEST_SKIP() << "reads cannot be held here: " << holdProblem;
  }
  const std::vector<std::string>& targets = campaign.Targets();

  // The fixed sample: inside the largest file, which replaces an old one; between two files;
  // as the INI file is about to be updated.
  const size_t largest = 6 + 11; // odd: the earlier installation has it
  ASSERT_EQ(3000000u, kBulkSizes[largest - 6]);
  const std::vector<KillAt> sample = {{Moment::kInsideFile, largest, 17},
                                      {Moment::kBetweenFiles, 9, 1},
                                      {Moment::kIniUpdate, 0, 1}};
  std::mt19937 random(seed);
  auto next = [&](unsigned count) -> KillAt {
    if (kills == 0) {
      return sample[count % sample.size()];
    }
    KillAt at;
    const unsigned pick = random() % 100;
    at.file = random() % targets.size();
    if (pick < 50) {
      at.moment = Moment::kInsideFile;
      at.read = 1 + (int)(random() % (unsigned)campaign.Reads(at.file));
    } else if (pick < 70) {
      at.moment = Moment::kBetweenFiles; // after the last file no pump answers a click
      at.file %= targets.size() - 1;
    } else {
      at.moment = (Moment)((int)Moment::kIniUpdate +
                           random() % ((int)Moment::kCount - (int)Moment::kIniUpdate));
    }
    return at;
  };

  // The clean install everything is compared with.
  campaign.ResetSettings();
  ASSERT_EQ("", campaign.RunToTheEnd());
  const Contents clean = ContentsOf(campaign.Destination());
  const std::string cleanSettings = campaign.Settings();
  for (const std::string& target : targets) {
    ASSERT_EQ(1u, clean.count(target)) << target;
  }

  const unsigned total = kills == 0 ? (unsigned)sample.size() : kills;
  unsigned done = 0, trials = 0, runs = 1, copiesLeft = 0;
  int byMoment[(int)Moment::kCount] = {};
  int withFileInProgress = 0;
  while (done < total) {
    ++trials;
    campaign.LayDownEarlierInstallation();
    campaign.ResetSettings();
    const unsigned inTrial =
        kills == 0 ? total : std::min<unsigned>(total - done, 1 + random() % 3);
    for (unsigned k = 0; k < inTrial; ++k, ++done, ++runs) {
      const KillAt at = next(done);
      const Contents before = ContentsOf(campaign.Destination());
      const std::string seen = campaign.RunAndKill(at);
      const Contents after = ContentsOf(campaign.Destination());
      const Verdict verdict = Judge(before, after, clean);
      ++byMoment[(int)at.moment];
      withFileInProgress += verdict.inProgress > 0 ? 1 : 0;
      for (const auto& [path, held] : after) {
        copiesLeft += EndsWith(path, kReplacementEnding) ? 1 : 0;
      }
      const std::string where = at.moment == Moment::kInsideFile
                                    ? ", " + targets[at.file] + " read " + std::to_string(at.read) +
                                          " of " + std::to_string(campaign.Reads(at.file))
                                : at.moment == Moment::kBetweenFiles ? ", after " + targets[at.file]
                                                                     : std::string();
      printf("cut-short: kill %u (trial %u): %s%s; seen \"%s\"; %d old, %d complete, %d in "
             "progress%s\n",
             done + 1, trials, kMomentNames[(int)at.moment], where.c_str(), seen.c_str(),
             verdict.old, verdict.complete, verdict.inProgress, verdict.note.c_str());
      fflush(stdout);
      EXPECT_EQ("", verdict.faults) << "kill " << done + 1 << ": " << kMomentNames[(int)at.moment]
                                    << where << ", seen " << seen;
      EXPECT_NE(0u, seen.find("missed")) << "kill " << done + 1 << ": " << seen;
    }
    ++runs;
    ASSERT_EQ("", campaign.RunToTheEnd()) << "trial " << trials;
    EXPECT_EQ("", Differences(clean, ContentsOf(campaign.Destination()))) << "trial " << trials;
    EXPECT_EQ(cleanSettings, campaign.Settings()) << "trial " << trials;
  }
  std::string moments;
  for (int m = 0; m < (int)Moment::kCount; ++m) {
    moments += byMoment[m] != 0
                   ? std::string("; ") + kMomentNames[m] + " " + std::to_string(byMoment[m])
                   : "";
  }
  printf("cut-short: seed %u: %u kills in %u trials, %u runs of setup.exe, %lu s%s; a file in "
         "progress after %d kills; replacement copies left by kills %u, none after the runs to "
         "the end\n",
         seed, done, trials, runs, (GetTickCount() - start) / 1000, moments.c_str(),
         withFileInProgress, copiesLeft);
}

// ---- Double-byte code pages -------------------------------------------------------------------
// Each case runs under the locale of its code page (see tests/CMakeLists.txt). Its names are in
// that code page, all but the last two ending in a character whose trail byte is 0x5C ("\"):
// the app, the destination's parent and last level, a target folder, and two target folders that
// folding a trail byte's letter would take as one.
struct DoubleByteCase {
  UINT codePage;
  const char *locale, *appName, *parent, *folder, *sub, *a, *b;
  bool utf16; // SETUP.DAT made for several code pages: UTF-16LE with a byte order mark
};

void InstallUnderDoubleByteCodePage(const DoubleByteCase& c) {
  const std::string missing = MissingLocale(c.locale, c.codePage);
  if (!missing.empty()) {
    GTEST_SKIP() << missing;
  }
  DemoRun run; // what a run changes outside the destination, saved and put back
  const std::string appName = c.appName, parent = c.parent, sub = c.sub, a = c.a, b = c.b;
  const std::string destination = run.target / (parent + "\\" + c.folder);
  // An earlier install's folder is the default; its parent exists, the folder itself not yet.
  CreateDirectoryA((run.target / parent).c_str(), NULL);
  ScopedRegistryKey appPaths(HKEY_LOCAL_MACHINE,
                             "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kvsdb.exe");
  appPaths.SetString("Path", destination);
  std::string setupDat = "[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=" + appName +
                         "\nEXENAME=kvsdb\n[KVSetup]\nTitle=T\nGroup1=Files\nDescription1=D\n"
                         "[Files]\nkvsdb.exe\n" +
                         sub + "\\readme.txt,readme.txt\n" + a + "\\a.txt,a.txt\n" + b +
                         "\\b.txt,b.txt\n" + sub + "\\" + a +
                         "\\c.txt,c.txt\n[default_install]\nAddReg=R\n[R]\n"
                         "HKCU,Software\\Kelvara\\DoubleByte,Folder,,%65600%\n";
  if (c.utf16) {
    std::wstring wide(setupDat.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, setupDat.data(), (int)setupDat.size(), &wide[0],
                                    (int)wide.size()));
    setupDat = "\xFF\xFE" + std::string((const char*)wide.data(), wide.size() * 2);
  }
  run.dist.SetSetupDat(setupDat);
  for (const char* file : {"kvsdb.exe", "readme.txt", "a.txt", "b.txt", "c.txt"}) {
    run.dist.AddFile(file, file);
  }
  ASSERT_TRUE(run.setup.Start(run.dist.AddSetupExe()));
  HWND page = run.setup.WaitForWindow(IsDestinationPage);
  ASSERT_NE(nullptr, page) << run.setup.Describe();
  EXPECT_EQ(destination, run.setup.Snapshot(page).Text(IDC_FOLDER_LABEL));
  run.setup.Click(page, IDC_NEXT);
  EXPECT_EQ("Setup has finished installing " + appName + " on your computer.", run.AnswerMessage());
  ASSERT_TRUE(run.WaitForTheEnd());

  // Every file inside the destination, in its folders; nothing made beside it.
  const std::string d = parent + "\\" + c.folder + "\\";
  Contents expected;
  for (const std::string& path :
       {parent + "\\", d, d + "kvsdb.exe", d + sub + "\\", d + sub + "\\readme.txt", d + a + "\\",
        d + a + "\\a.txt", d + b + "\\", d + b + "\\b.txt", d + sub + "\\" + a + "\\",
        d + sub + "\\" + a + "\\c.txt"}) {
    expected[path] = path.back() == '\\' ? Held{FILE_ATTRIBUTE_DIRECTORY, ""}
                                         : Held{0, path.substr(path.find_last_of('\\') + 1)};
  }
  EXPECT_EQ("", Differences(expected, ContentsOf(run.target.Path())));
  std::string value;
  ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Kelvara\\DoubleByte", "Folder", &value);
  EXPECT_EQ(destination, value.c_str());
  for (const char* where : {"Programs", "Desktop"}) {
    const std::string file = ShellFolder(where) + "\\" + appName + ".lnk";
    Link link = ReadLink(file);
    DeleteFileA(file.c_str());
    EXPECT_EQ(destination + "\\kvsdb.exe|" + destination, link.path + "|" + link.workingDirectory);
  }
}

TEST(EndToEndDoubleByte, Japanese932) { // ソフト, 能, ソフト表, 表, ア, ヂ
  InstallUnderDoubleByteCodePage({932, "ja_JP.UTF-8", "\x83\x5C\x83\x74\x83\x67", "\x94\x5C",
                                  "\x83\x5C\x83\x74\x83\x67\x95\x5C", "\x95\x5C", "\x83\x41",
                                  "\x83\x61", false});
}

TEST(EndToEndDoubleByte, TraditionalChinese950) { // 許功蓋, 功, 許功蓋, 許, 乙, 兀
  InstallUnderDoubleByteCodePage({950, "zh_TW.UTF-8", "\xB3\x5C\xA5\x5C\xBB\x5C", "\xA5\x5C",
                                  "\xB3\x5C\xA5\x5C\xBB\x5C", "\xB3\x5C", "\xA4\x41", "\xA4\x61",
                                  true});
}

} // namespace
