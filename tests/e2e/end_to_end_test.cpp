// The real setup.exe, started from a copied distribution folder and driven from outside.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "probe/runonce_probe.h"
#include "robot/process_robot.h"
#include "robot/ui_robot.h"
#include "support/test_support.h"
#include "ui/resources/resource.h"

namespace {

// Generous: where 32-bit programs run through qemu, setup.exe takes about a minute to start.
const DWORD kExitTimeoutMs = 180000;

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

// The example distribution with its destination in a temporary folder, runonce.exe's stand-in
// beside setup.exe, and everything a run may change outside the destination prepared before it
// and put back after it: RunOnce values (with a "Setup" key, so "Wrapper" is due as well), a
// compatibility entry for the installed program, links, shell folder values, default_install's
// keys.
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

// Which icon a message box shows, told by its pixels on the screen (icons are per-process
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
  POINT origin = {0, 0};
  ClientToScreen(control, &origin);
  const int width = area.right, height = area.bottom, count = width * height;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height; // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = NULL;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  const std::vector<BYTE> shown((BYTE*)bits, (BYTE*)bits + 4 * count);
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
      score += abs((int)((BYTE*)bits)[i] - (int)shown[i]);
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
// finishing step taken.
TEST(EndToEnd, TypicalRunInstallsTheExampleDistribution) {
  DemoRun run;
  const std::string& destination = run.destination;
  SetupProcess& setup = run.setup;
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
  // RunOnce values ("Wrapper" because the "Setup" key is there), "runonce -r" started, the
  // compatibility entry of the installed program gone.
  DWORD type = 0;
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv", &value, &type));
  EXPECT_EQ(std::string("grpconv -o", 11), value);
  EXPECT_EQ((DWORD)REG_SZ, type);
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper", &value, &type));
  EXPECT_EQ(std::string("runonce", 8), value);
  EXPECT_EQ("runonce -r|\r\n", run.probe.Log());
  EXPECT_FALSE(run.CompatibilityEntryKept());
}

// A copy that fails and a copy cancelled with "Exit Setup" both end with the failure message,
// and none of the finishing steps is taken.
TEST(EndToEnd, FailedOrCancelledRunTakesNoFinishingStep) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "missing source file");
    DemoRun run;
    CopyHold hold;
    if (cancel) {
      if (!hold.Available()) {
        GTEST_SKIP() << hold.UnavailableReason();
      }
      // The copy is held at the third of five lines of a group of its own (its size given, so
      // that measuring reads none of them) until the click waits in the queue.
      std::string setupDat =
          ReplaceLine(ReadTextFile(run.dist.File("SETUP.DAT")), "Option3=",
                      "Option3=Demo Song\nGroup4=Bulk.Files\nDescription4=Bulk\nSize4=20480") +
          "\n[Bulk.Files]\n";
      for (int i = 0; i < 5; ++i) {
        std::string name = "bulk\\file" + std::to_string(i) + ".dat";
        run.dist.AddFile(name, std::string(4096, (char)('a' + i)));
        setupDat += i == 2 ? name + "," + hold.SourceNameFrom(run.dist.Path()) + "\n" : name + "\n";
      }
      run.dist.SetSetupDat(setupDat);
    } else {
      DeleteFileA(run.dist.File("manual\\guide_en.txt").c_str());
    }
    ASSERT_TRUE(run.StartAndAcceptDefaults()) << run.setup.Describe();
    if (cancel) {
      ASSERT_TRUE(hold.WaitUntilHeld(180000)) << run.setup.Describe();
      HWND progress = run.setup.WaitForWindow([](const WindowSnapshot& w) {
        return IsProgressWindow(w) && w.Control(IDC_CANCEL)->visible;
      });
      ASSERT_NE(nullptr, progress) << run.setup.Describe();
      run.setup.Click(progress, IDC_CANCEL);
      hold.Release();
      HWND question = run.setup.WaitForWindow(IsExitQuestion);
      ASSERT_NE(nullptr, question) << run.setup.Describe();
      // The held file was finished; the next line was not read.
      EXPECT_EQ(std::string(4096, 'h'), ReadTextFile(run.destination + "\\bulk\\file2.dat"));
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

} // namespace
