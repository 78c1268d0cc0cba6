// Whole install runs in-process: RunInstall over a real distribution, its dialogs and message
// boxes answered by the UI robot, its effects read back from disk and registry.
#include <gtest/gtest.h>

#include <string>

#include "engine/install_driver.h"
#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_api.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource.h"

namespace {

const char kTestKey[] = "Software\\KvsDriverTest";

class InstallRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    MakeFolders(links_ / "programs");
    MakeFolders(links_ / "desktop");
    SetRegistryString(HKEY_CURRENT_USER, kShellFolders, "Programs", links_ / "programs");
    SetRegistryString(HKEY_CURRENT_USER, kShellFolders, "Desktop", links_ / "desktop");
  }
  void TearDown() override {
    installSection = SetupInstallFromInfSectionA;
    setDirectoryId = SetupSetDirectoryIdA;
    DeleteRegistryTree(HKEY_CURRENT_USER, kTestKey);
  }
  // A distribution for "Demo" whose default_install records the destination in kTestKey.
  void Write(const std::string& kvSetup, const std::string& sections) {
    dist_.SetSetupDat("[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=Demo\nEXENAME=demo\n"
                      "[KVSetup]\nTitle=Demo Setup\nPath=" +
                      destination_ + "\n" + kvSetup + sections +
                      "[default_install]\nAddReg=Demo.Reg\n[Demo.Reg]\nHKCU," + kTestKey +
                      ",Dir,,%65600%\n");
  }
  int Run() {
    return RunInstall(owner_.Window());
  }
  void ClearEffects() {
    DeleteTree(destination_);
    DeleteRegistryTree(HKEY_CURRENT_USER, kTestKey);
    DeleteFileA((links_ / "programs\\Demo.lnk").c_str());
    DeleteFileA((links_ / "desktop\\Demo.lnk").c_str());
    ResetInstallState();
  }
  bool FinishingStepsRan() {
    return RegistryKeyExists(HKEY_CURRENT_USER, kTestKey) ||
           FileExists(links_ / "programs\\Demo.lnk") || FileExists(links_ / "desktop\\Demo.lnk");
  }
  static int Count(const UiRobot& robot, bool (*matches)(const WindowSnapshot&)) {
    int count = 0;
    for (const WindowSnapshot& w : robot.Seen()) {
      count += matches(w) ? 1 : 0;
    }
    return count;
  }

  Distribution dist_;
  ScopedModuleFolder module_{dist_.Path() + "\\"};
  TempFolder target_{"dest"};
  TempFolder links_{"links"};
  std::string destination_ = target_ / "Demo";
  SavedRegistryValue programs_{HKEY_CURRENT_USER, kShellFolders, "Programs"};
  SavedRegistryValue desktop_{HKEY_CURRENT_USER, kShellFolders, "Desktop"};
  SavedRegistryValue grpConv_{HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv"};
  TestOwner owner_;
};

TEST_F(InstallRunTest, WithoutOptionalGroupsOnePageLeadsStraightToTheCopy) {
  Write("Group1=Main.Files\nDescription1=Copying files...\n",
        "[Main.Files]\nreadme.txt\nsub\\b.txt,src\\b.txt\n");
  dist_.AddFile("readme.txt", "readme");
  dist_.AddFile("src\\b.txt", "b");
  UiRobot robot;
  robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
  robot.Expect("completion", IsMessageBox, [](UiRobot&, const WindowSnapshot& w) {
    EXPECT_EQ("Demo Setup", w.caption);
    EXPECT_EQ("Setup has finished installing Demo on your computer.", w.MessageText());
    EXPECT_FALSE(w.Has(IDCANCEL));
    EXPECT_EQ(LoadIconA(installState.instance, MAKEINTRESOURCEA(IDI_SETUP)), w.Icon());
    UiRobot::Click(w.window, IDOK);
  });
  EXPECT_EQ(1, Run());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_EQ(0, Count(robot, IsOptionsPage));
  EXPECT_EQ(1, Count(robot, IsProgressWindow)); // no checking window without options
  EXPECT_EQ("readme", ReadTextFile(destination_ + "\\readme.txt"));
  EXPECT_EQ("b", ReadTextFile(destination_ + "\\sub\\b.txt"));
  std::string dir;
  EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, "Dir", &dir));
  EXPECT_EQ(destination_, dir.c_str());
  EXPECT_TRUE(FileExists(links_ / "programs\\Demo.lnk"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, installState.infHandle);
  EXPECT_EQ(NULL, installState.progressWindow);
  EXPECT_EQ("b.txt readme.txt sub ", EntryNames(destination_ + "\\sub") + EntryNames(destination_))
      << "no uninstall.exe: no record";
}

// Back keeps the choices; a destination changed on the first page is measured again.
TEST_F(InstallRunTest, BackKeepsTheChoicesAndANewDestinationIsMeasuredAgain) {
  Write("Group1=Main.Files\nDescription1=Main\nGroup2=Extra.Files\nDescription2=Extra\n"
        "Option2=Extras\n",
        "[Main.Files]\nmain.bin\n[Extra.Files]\nextra.bin\n");
  const std::string big(300000, 'm');
  dist_.AddFile("main.bin", big);
  dist_.AddFile("extra.bin", "x");
  const std::string second = target_ / "Second";
  MakeFolders(second);
  WriteTextFile(second + "\\main.bin", big); // already there at its full size: net 0
  std::string firstRequired;
  UiRobot robot;
  robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
  robot.Expect("options page", IsOptionsPage, [&](UiRobot& r, const WindowSnapshot& w) {
    firstRequired = w.Text(IDC_REQUIRED_VALUE);
    UiRobot::Click(w.window, IDC_OPTION1); // clear Extras
    r.Later([page = w.window] { UiRobot::Click(page, IDC_BACK); });
  });
  robot.Expect("destination page again", IsDestinationPage, [&](UiRobot&, const WindowSnapshot& w) {
    CopyText(installState.destinationFolder, MAX_PATH, second.c_str());
    UiRobot::Click(w.window, IDC_NEXT);
  });
  robot.Expect("options page again", IsOptionsPage, [&](UiRobot&, const WindowSnapshot& w) {
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(GetDlgItem(w.window, IDC_OPTION1), BM_GETCHECK, 0, 0));
    EXPECT_EQ("0.29 MB", firstRequired); // main.bin in whole clusters, and extra.bin
    EXPECT_EQ("0.00 MB", w.Text(IDC_REQUIRED_VALUE));
    UiRobot::Click(w.window, IDC_NEXT);
  });
  robot.ExpectAndClick("completion", IsMessageBox, IDOK);
  EXPECT_EQ(1, Run());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_EQ(3, Count(robot, IsProgressWindow)); // two checking passes, then the copy
  EXPECT_FALSE(FolderExists(destination_));
  EXPECT_TRUE(FileExists(second + "\\main.bin"));
  EXPECT_FALSE(FileExists(second + "\\extra.bin"));
}

TEST_F(InstallRunTest, CancelConfirmedOnAPageEndsTheRunWithNothingDone) {
  Write("Group1=Main.Files\nDescription1=Main\nGroup2=Extra.Files\nDescription2=Extra\n"
        "Option2=Extras\n",
        "[Main.Files]\nmain.txt\n[Extra.Files]\nextra.txt\n");
  dist_.AddFile("main.txt", "m");
  dist_.AddFile("extra.txt", "x");
  UiRobot robot;
  robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
  robot.ExpectAndClick("options page", IsOptionsPage, IDC_CANCEL);
  robot.ExpectAndClick("exit question", IsExitQuestion, IDC_NEXT); // Exit Setup
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_FALSE(FolderExists(destination_));
  EXPECT_FALSE(FinishingStepsRan());
  EXPECT_EQ(INVALID_HANDLE_VALUE, installState.infHandle);
}

// Clicks the progress window's Cancel while the copy announces its third line.
class CancelOnThirdStep {
public:
  CancelOnThirdStep() {
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Watch, NULL, GetCurrentThreadId());
  }
  ~CancelOnThirdStep() {
    UnhookWindowsHookEx(hook_);
  }

private:
  static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* sent = (const CWPSTRUCT*)lParam;
    if (code == HC_ACTION && sent->message == WM_SETUP_PROGRESS && sent->wParam != 0 &&
        progressCount == 2) {
      UiRobot::Click(sent->hwnd, IDC_CANCEL);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
  }
  HHOOK hook_;
};

TEST_F(InstallRunTest, CancelDuringTheCopyWaitsForTheCurrentFile) {
  Write("Group1=Main.Files\nDescription1=Main\n",
        "[Main.Files]\n1.txt\n2.txt\n3.txt\n4.txt\n5.txt\n");
  for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) {
    dist_.AddFile(name, name);
  }
  for (int exit : {0, 1}) {
    SCOPED_TRACE(exit ? "Exit Setup" : "Resume");
    ClearEffects();
    UiRobot robot;
    CancelOnThirdStep cancel;
    robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
    robot.Expect("exit question", IsExitQuestion, [&](UiRobot&, const WindowSnapshot& w) {
      EXPECT_TRUE(FileExists(destination_ + "\\3.txt")); // the file under way is finished
      EXPECT_FALSE(FileExists(destination_ + "\\4.txt"));
      UiRobot::Click(w.window, exit ? IDC_NEXT : IDC_CANCEL);
    });
    robot.Expect("last message", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
      EXPECT_EQ(exit ? "Setup did not complete successfully!"
                     : "Setup has finished installing Demo on your computer.",
                w.MessageText());
      UiRobot::Click(w.window, IDOK);
    });
    EXPECT_EQ(1, Run());
    EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
    EXPECT_EQ(exit ? 3 : 5, progressCount);
    EXPECT_EQ(!exit, FileExists(destination_ + "\\5.txt"));
    EXPECT_EQ(!exit, FinishingStepsRan());
  }
}

// The keys of a section of the record, each followed by a space.
std::string RecordKeys(const std::string& record, const char* section) {
  char keys[4096];
  DWORD size = GetPrivateProfileSectionA(section, keys, sizeof keys, record.c_str());
  std::string names;
  for (const char* key = keys; key < keys + size; key += strlen(key) + 1) {
    names += std::string(key, strcspn(key, "=")) + " ";
  }
  return names;
}

// The record names what the installs made and nothing that was there before, of a group not
// chosen, or outside the destination; a second install keeps the first one's entries.
TEST_F(InstallRunTest, TheRecordListsWhatTheInstallsMade) {
  const std::string key = std::string("HKCU\\") + kTestKey;
  const std::string ini = target_ / "demo.ini";
  dist_.SetSetupDat(
      "[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=Demo\nEXENAME=demo\n"
      "[KVSetup]\nTitle=Demo Setup\nPath=" +
      destination_ +
      "\nGroup1=Main.Files\nDescription1=Main\nGroup2=Extra.Files\nDescription2=Extra\n"
      "Option2=Extras\n[Main.Files]\nUninstall.EXE,u.bin\napp.exe,a.bin\nkept.txt,a.bin\n"
      "data\\a.txt,a.bin\ndata/song.mid,a.bin\n../x/y.dll,a.bin\n..\\x.dll,a.bin\n"
      "[Extra.Files]\nextra.txt,a.bin\n"
      "[default_install]\nAddReg=Demo.Reg\nUpdateInis=Demo.Ini\n[Demo.Reg]\nHKCU," +
      kTestKey + "\\App,Dir,,%65600%\nHKCU," + kTestKey + ",Planted,0x2,new\nHKCU," + kTestKey +
      ",List,0x10008,C:\\Tools\nHKCU," + kTestKey + ",List,0x10008,C:\\More\n[Demo.Ini]\n" + ini +
      ",Demo,,Planted=new\n" + ini + ",Demo,,Made=1\n");
  dist_.AddFile("u.bin", "u");
  dist_.AddFile("a.bin", "a");
  SetRegistryString(HKEY_CURRENT_USER, kTestKey, "Planted", "old");
  ScopedRegistryKey list(HKEY_CURRENT_USER, kTestKey);
  list.SetRaw("List", REG_MULTI_SZ, "C:\\Tools\0\0", 10);
  WritePrivateProfileStringA("Demo", "Planted", "old", ini.c_str());
  MakeFolders(target_ / "x");
  MakeFolders(destination_);
  WriteTextFile(destination_ + "\\kept.txt", "user's");
  WriteTextFile(destination_ + "\\extra.txt", "user's");
  const std::string record = destination_ + "\\uninstall.ini";
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    ResetInstallState();
    UiRobot robot;
    robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
    robot.Expect("options page", IsOptionsPage, [run](UiRobot&, const WindowSnapshot& w) {
      if (run == 1) {
        UiRobot::Click(w.window, IDC_OPTION1); // Extras not chosen the first time
      }
      UiRobot::Click(w.window, IDC_NEXT);
    });
    robot.ExpectAndClick("completion", IsMessageBox, IDOK);
    EXPECT_EQ(1, Run());
    EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
    EXPECT_TRUE(FileExists(target_ / "x\\y.dll"));
    EXPECT_TRUE(FileExists(target_ / "x.dll"));
    char folder[MAX_PATH];
    GetPrivateProfileStringA("Installation", "Folder", "", folder, MAX_PATH, record.c_str());
    EXPECT_EQ(destination_, folder);
    EXPECT_EQ("Application Folder ", RecordKeys(record, "Installation"));
    EXPECT_EQ(run == 1 ? "Main.Files " : "Main.Files Extra.Files ", RecordKeys(record, "Groups"));
    EXPECT_EQ("Uninstall.EXE app.exe data\\a.txt data\\song.mid ", RecordKeys(record, "Files"));
    EXPECT_EQ("data ", RecordKeys(record, "Folders")); // the destination was there
    EXPECT_EQ(key + "\\App " + key + "\\App\\\\Dir " + key + "\\\\List\\\\C:\\More " +
                  (run == 1 ? "" : key + "\\\\Planted "),
              RecordKeys(record, "Registry"));
    EXPECT_EQ(ini + "|Demo|Made ", RecordKeys(record, "Ini"));
    EXPECT_FALSE(FileExists(record + ".kvs-new"));
    DeleteRegistryValue(HKEY_CURRENT_USER, kTestKey, "Planted"); // the second install makes it
  }
}

// A first install into a new folder: the folder itself is ".", and the key the line made.
TEST_F(InstallRunTest, TheRecordNamesADestinationItMadeAsDot) {
  Write("Group1=Main.Files\nDescription1=Main\n", "[Main.Files]\nuninstall.exe,u.bin\n");
  dist_.AddFile("u.bin", "u");
  UiRobot robot;
  robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
  robot.ExpectAndClick("completion", IsMessageBox, IDOK);
  EXPECT_EQ(1, Run());
  const std::string record = destination_ + "\\uninstall.ini";
  EXPECT_EQ(". ", RecordKeys(record, "Folders"));
  const std::string key = std::string("HKCU\\") + kTestKey;
  EXPECT_EQ(key + " " + key + "\\\\Dir ", RecordKeys(record, "Registry"));
}

// Only the button bits of the style count: Yes and No, but never the question mark.
TEST_F(InstallRunTest, FinishedMessageTakesOnlyTheButtonsOfItsStyle) {
  UiRobot robot;
  robot.Expect("message", IsMessageBox, [](UiRobot&, const WindowSnapshot& w) {
    EXPECT_EQ("Done.", w.MessageText());
    EXPECT_EQ("Caption", w.caption);
    EXPECT_TRUE(w.Has(IDYES) && w.Has(IDNO));
    EXPECT_EQ(LoadIconA(installState.instance, MAKEINTRESOURCEA(IDI_SETUP)), w.Icon());
    UiRobot::Click(w.window, IDNO);
  });
  EXPECT_EQ(IDNO,
            ShowFinishedMessage(owner_.Window(), "Done.", "Caption", MB_YESNO | MB_ICONQUESTION));
  EXPECT_TRUE(robot.AllMet()) << robot.Report();
}

BOOL WINAPI RefuseWithAccessDenied(HWND, HINF, PCSTR, UINT, HKEY, PCSTR, UINT, PSP_FILE_CALLBACK_A,
                                   PVOID, HDEVINFO, PSP_DEVINFO_DATA) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

BOOL WINAPI RefuseWithoutSystemText(HWND, HINF, PCSTR, UINT, HKEY, PCSTR, UINT, PSP_FILE_CALLBACK_A,
                                    PVOID, HDEVINFO, PSP_DEVINFO_DATA) {
  SetLastError(0x20001234); // an application-defined code the system has no text for
  return FALSE;
}

std::string SystemText(DWORD error) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, error, LANG_USER_DEFAULT, text, sizeof text,
                 NULL);
  return text;
}

// Each failure after the wizard: its own message first, then the failure message, and no
// finishing step; files copied before the failure stay.
TEST_F(InstallRunTest, FailuresAfterTheWizardSkipTheFinishingSteps) {
  struct Case {
    const char* name;
    InstallSectionFunction install;
    std::string firstMessage;
    const char* firstCaption;
  } cases[] = {
      {"missing source", SetupInstallFromInfSectionA,
       "There was an error copying missing.txt\n\n" + SystemText(ERROR_FILE_NOT_FOUND),
       "Setup Error"},
      {"default_install refused", RefuseWithAccessDenied,
       "There was an error updating your system settings.\n\n" + SystemText(ERROR_ACCESS_DENIED),
       "Setup Error"},
      {"refused, no system text", RefuseWithoutSystemText,
       "There was an error updating your system settings.\n\n", "Setup Error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool missingSource = c.install == SetupInstallFromInfSectionA;
    Write("Group1=Main.Files\nDescription1=Main\nGroup2=Later.Files\nDescription2=Later\n",
          std::string("[Main.Files]\nfirst.txt\n") + (missingSource ? "missing.txt\n" : "") +
              "[Later.Files]\nlater.txt\n");
    dist_.AddFile("first.txt", "1");
    dist_.AddFile("later.txt", "2");
    ClearEffects();
    installSection = c.install;
    UiRobot robot;
    robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
    robot.Expect("first message", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
      EXPECT_EQ(c.firstMessage, w.MessageText());
      EXPECT_EQ(c.firstCaption, w.caption);
      EXPECT_EQ(LoadIconA(NULL, IDI_WARNING), w.Icon());
      EXPECT_EQ(installState.progressWindow, GetWindow(w.window, GW_OWNER));
      UiRobot::Click(w.window, IDOK);
    });
    robot.Expect("failure message", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
      EXPECT_EQ("Setup did not complete successfully!", w.MessageText());
      EXPECT_EQ("Demo Setup", w.caption);
      EXPECT_EQ(LoadIconA(NULL, IDI_ERROR), w.Icon());
      EXPECT_EQ(owner_.Window(), GetWindow(w.window, GW_OWNER));
      UiRobot::Click(w.window, IDOK);
    });
    EXPECT_EQ(1, Run());
    EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
    EXPECT_TRUE(FileExists(destination_ + "\\first.txt"));
    EXPECT_EQ(!missingSource, FileExists(destination_ + "\\later.txt"));
    EXPECT_FALSE(FinishingStepsRan());
    EXPECT_EQ(INVALID_HANDLE_VALUE, installState.infHandle);
  }
}

// A destination whose drive reports no free space (a network path names no drive) is refused
// even without options; the destination page comes back for another choice.
TEST_F(InstallRunTest, ADriveWithNoFreeSpaceSendsTheUserBackToTheDestination) {
  destination_ = "\\\\nowhere\\share\\Demo";
  Write("Group1=Main.Files\nDescription1=Main\n", "[Main.Files]\nmain.txt\n");
  dist_.AddFile("main.txt", "m");
  const std::string usable = target_ / "Usable";
  UiRobot robot;
  robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
  robot.Expect("space message", IsMessageBox, [](UiRobot&, const WindowSnapshot& w) {
    EXPECT_EQ("There is insufficient space on Drive \\\\ to install the currently selected "
              "options.",
              w.MessageText());
    EXPECT_EQ("Demo Setup", w.caption);
    EXPECT_EQ(LoadIconA(NULL, IDI_ERROR), w.Icon());
    UiRobot::Click(w.window, IDOK);
  });
  robot.Expect("destination page again", IsDestinationPage, [&](UiRobot&, const WindowSnapshot& w) {
    CopyText(installState.destinationFolder, MAX_PATH, usable.c_str());
    UiRobot::Click(w.window, IDC_NEXT);
  });
  robot.ExpectAndClick("completion", IsMessageBox, IDOK);
  EXPECT_EQ(1, Run());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_EQ("m", ReadTextFile(usable + "\\main.txt"));
}

BOOL WINAPI RefuseDirectoryId(HINF, DWORD, PCSTR) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// The one quiet ending: a destination the Setup API will not take ends the run without a word.
TEST_F(InstallRunTest, ARefusedDirectoryIdEndsTheRunQuietly) {
  Write("Group1=Main.Files\nDescription1=Main\n", "[Main.Files]\nmain.txt\n");
  dist_.AddFile("main.txt", "m");
  setDirectoryId = RefuseDirectoryId;
  UiRobot robot;
  robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_TRUE(robot.MessageBoxes().empty());
  EXPECT_EQ(0, Count(robot, IsProgressWindow));
  EXPECT_FALSE(FolderExists(destination_));
  EXPECT_FALSE(FinishingStepsRan());
  EXPECT_EQ(INVALID_HANDLE_VALUE, installState.infHandle);
}

// Faults the platform raises during the copy. Each ends with the copy error naming the file, then
// the failure message; a file the installation does not name is untouched, a named file is the
// old one or the complete new one, and nothing else is left in the folder. The sources are
// read-only, as on a disc. Size1 is stale on purpose, so the space test lets even the small drive
// through.
class CopyFaultTest : public InstallRunTest {
protected:
  // error: what the platform reports for b.bin; 0 when the destination itself cannot be made.
  void RunFaultCase(const std::string& destination, DWORD error) {
    destination_ = destination;
    Write("Group1=Main.Files\nDescription1=Main\nSize1=1\nGroup2=Extra.Files\n"
          "Description2=Extra\nOption2=Extras\nSize2=1\n",
          "[Main.Files]\na.bin\nb.bin\nc.txt\n[Extra.Files]\nextra.txt\n");
    dist_.AddFile("a.bin", std::string(300000, 'a'));
    dist_.AddFile("b.bin", bigNew_);
    dist_.AddFile("c.txt", "c");
    for (const char* name : {"a.bin", "b.bin", "c.txt"}) {
      SetFileAttributesA(dist_.File(name).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    ClearEffects();
    if (error != 0) {
      MakeFolders(destination_);
      WriteTextFile(destination_ + "\\keep.txt", "mine"); // not named by the installation
      WriteTextFile(destination_ + "\\b.bin", "old b");
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (error == ERROR_SHARING_VIOLATION) {
      held = CreateFileA((destination_ + "\\b.bin").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                         0, NULL);
    }
    std::string copyError;
    UiRobot robot;
    robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
    robot.Expect("options page", IsOptionsPage, [&](UiRobot&, const WindowSnapshot& w) {
      if (error == ERROR_FILE_NOT_FOUND) {
        SetFileAttributesA(dist_.File("b.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(dist_.File("b.bin").c_str()); // gone between the check and the copy
      }
      UiRobot::Click(w.window, IDC_NEXT);
    });
    robot.Expect("copy error", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
      copyError = w.MessageText();
      UiRobot::Click(w.window, IDOK);
    });
    robot.Expect("failure message", IsMessageBox, [](UiRobot&, const WindowSnapshot& w) {
      EXPECT_EQ("Setup did not complete successfully!", w.MessageText());
      UiRobot::Click(w.window, IDOK);
    });
    EXPECT_EQ(1, Run());
    if (held != INVALID_HANDLE_VALUE) {
      CloseHandle(held);
    }
    EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
    if (error != 0) {
      // A file held open cannot be replaced: the platform calls that access denied.
      const DWORD reason = error == ERROR_SHARING_VIOLATION ? ERROR_ACCESS_DENIED : error;
      EXPECT_EQ("There was an error copying b.bin\n\n" + SystemText(reason), copyError);
      EXPECT_EQ(std::string(300000, 'a'), ReadTextFile(destination_ + "\\a.bin"));
      const std::string named = ReadTextFile(destination_ + "\\b.bin");
      EXPECT_TRUE(named == "old b" || named == bigNew_) << named.size() << " bytes";
      EXPECT_EQ("mine", ReadTextFile(destination_ + "\\keep.txt"));
      EXPECT_EQ("a.bin b.bin keep.txt ", EntryNames(destination_));
      DeleteTree(destination_);
    } else {
      EXPECT_EQ(0u, copyError.find("There was an error copying a.bin\n\n")) << copyError;
    }
    EXPECT_FALSE(FileExists(destination_ + "\\c.txt"));
    EXPECT_FALSE(FinishingStepsRan());
  }
  const std::string bigNew_ = std::string(900000, 'n');
};

// A reinstall over an earlier installation on a nearly full drive: the space test counts the
// replaced file at what it adds, which leaves no room for the new file beside the old one; the
// new file is then copied over the old one, which frees what it needs.
TEST_F(InstallRunTest, AReinstallOnANearlyFullDriveReplacesInPlaceWhereThereIsNoRoomBeside) {
  const char* small = TestDrive("SMALL_DRIVE");
  if (small == nullptr) {
    GTEST_SKIP() << MissingTestDrivesReason();
  }
  destination_ = std::string(small) + "\\Reinstall";
  Write("Group1=Main.Files\nDescription1=Main\nGroup2=Extra.Files\nDescription2=Extra\n"
        "Option2=Extras\n",
        "[Main.Files]\nbig.bin\nsmall.txt\n[Extra.Files]\nnew.txt\n");
  const std::string bigNew(600000, 'n');
  dist_.AddFile("big.bin", bigNew);
  dist_.AddFile("small.txt", "new small");
  dist_.AddFile("new.txt", "added");
  ClearEffects();
  MakeFolders(destination_);
  WriteTextFile(destination_ + "\\big.bin", std::string(600000, 'o'));
  WriteTextFile(destination_ + "\\small.txt", "old small");
  WriteTextFile(destination_ + "\\keep.txt", "mine");
  UiRobot robot;
  robot.ExpectAndClick("destination page", IsDestinationPage, IDC_NEXT);
  robot.ExpectAndClick("options page", IsOptionsPage, IDC_NEXT);
  std::string finished;
  robot.Expect("completion message", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
    finished = w.MessageText();
    UiRobot::Click(w.window, IDOK);
  });
  EXPECT_EQ(1, Run());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_EQ("Setup has finished installing Demo on your computer.", finished);
  EXPECT_TRUE(ReadTextFile(destination_ + "\\big.bin") == bigNew);
  EXPECT_EQ("new small", ReadTextFile(destination_ + "\\small.txt"));
  EXPECT_EQ("added", ReadTextFile(destination_ + "\\new.txt"));
  EXPECT_EQ("mine", ReadTextFile(destination_ + "\\keep.txt"));
  EXPECT_EQ("big.bin keep.txt new.txt small.txt ", EntryNames(destination_));
  ClearEffects();
}

TEST_F(CopyFaultTest, TargetHeldOpenOrSourceGoneAfterTheCheck) {
  {
    SCOPED_TRACE("the target is held open without sharing");
    RunFaultCase(target_ / "Held", ERROR_SHARING_VIOLATION);
  }
  {
    SCOPED_TRACE("the source is removed after the check");
    RunFaultCase(target_ / "Gone", ERROR_FILE_NOT_FOUND);
  }
}

TEST_F(CopyFaultTest, AFullOrReadOnlyDrive) {
  const char* small = TestDrive("SMALL_DRIVE");
  const char* readOnly = TestDrive("READONLY_DRIVE");
  if (small == nullptr || readOnly == nullptr) {
    GTEST_SKIP() << MissingTestDrivesReason();
  }
  {
    SCOPED_TRACE("the drive fills up");
    RunFaultCase(std::string(small) + "\\Full", ERROR_DISK_FULL);
  }
  {
    SCOPED_TRACE("a read-only drive");
    RunFaultCase(std::string(readOnly) + "\\Demo", 0);
    EXPECT_EQ("kept\n", ReadTextFile(std::string(readOnly) + "\\keep.txt"));
  }
}

} // namespace
