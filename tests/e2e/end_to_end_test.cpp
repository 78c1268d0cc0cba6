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

} // namespace
