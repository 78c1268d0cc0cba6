// The real setup.exe, started from a copied distribution folder and driven from outside.
#include <gtest/gtest.h>

#include <string>

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

std::string ShellFolder(const char* name) {
  std::string value;
  ReadRegistryValue(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", name,
                    &value);
  return value.c_str();
}

// The typical run: defaults accepted, the option left ticked, everything installed.
TEST(EndToEnd, TypicalRunInstallsTheExampleDistribution) {
  // Machine-wide keys as the 32-bit installer sees them.
  struct ViewGuard {
    ViewGuard() { registryView = KEY_WOW64_32KEY; }
    ~ViewGuard() { registryView = 0; }
  } view;
  const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  Distribution dist;
  dist.CopyExample();
  TempFolder target("target");
  const std::string destination = target / "Kelvara Demo";
  dist.SetSetupDat(
      ReplaceLine(ReadTextFile(dist.File("SETUP.DAT")), "Path=", "Path=" + destination));
  const std::string programsLink = ShellFolder("Programs") + "\\Kelvara Demo.lnk";
  const std::string desktopLink = ShellFolder("Desktop") + "\\Kelvara Demo.lnk";

  SetupProcess setup;
  ASSERT_TRUE(setup.Start(dist.AddSetupExe()));
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
  setup.Click(done, IDOK);
  DWORD exitCode = 99;
  ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs, &exitCode));
  EXPECT_EQ(0u, exitCode);

  // Files, each at its target with its content.
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
  // Measured sizes for every group, and the finishing steps.
  EXPECT_TRUE(FileExists(dist.File("sizes.txt")));
  EXPECT_TRUE(FileExists(programsLink)) << programsLink;
  EXPECT_TRUE(FileExists(desktopLink)) << desktopLink;
  DWORD type = 0;
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv", &value, &type));
  EXPECT_EQ(std::string("grpconv -o", 11), value);
  EXPECT_EQ((DWORD)REG_SZ, type);

  DeleteFileA(programsLink.c_str());
  DeleteFileA(desktopLink.c_str());
  DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Kelvara");
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\Kelvara");
}

} // namespace
