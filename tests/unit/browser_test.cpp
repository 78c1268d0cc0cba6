// The folder browser: typed folders checked and created by the callback, and the platform's
// browser run for real, both answered in-process by the UI robot.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "ui/folder_browser.h"

namespace {
std::string Invalid(const std::string& typed) {
  return "The specified folder name '" + typed +
         "' is invalid.\n\nPlease type a full path with drive letter; for example 'C:\\Demo'.";
}
std::string Ask(const std::string& folder) {
  return "The folder '" + folder + "' does not exist.\n\nDo you want the folder to be created?";
}
std::string Failed(const std::string& folder) {
  return "The specified folder '" + folder + "' could not be created.";
}

char MissingDrive() {
  DWORD drives = GetLogicalDrives();
  for (char letter = 'Q'; letter <= 'Y'; ++letter) {
    if ((drives & (1u << (letter - 'A'))) == 0) {
      return letter;
    }
  }
  return 0;
}

class BrowserTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    CopyText(installState.appName, kValueSize, "Demo");
    CopyText(installState.destinationFolder, MAX_PATH, "C:\\Demo");
  }
  // The next browser is answered by fn, run from the browser's own modal loop.
  void OnBrowser(UiRobot& robot, std::function<void(HWND)> fn) {
    robot.Expect("folder browser", IsFolderBrowser,
                 [this, fn](UiRobot& r, const WindowSnapshot& w) {
                   EXPECT_EQ("Choose Folder", w.caption);
                   EXPECT_EQ(owner_.Window(), GetWindow(w.window, GW_OWNER));
                   HWND browser = w.window;
                   r.Later([browser, fn] { fn(browser); });
                 });
  }
  static std::string ItemText(HWND tree, HTREEITEM handle) {
    char text[MAX_PATH] = "";
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = handle;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    TreeView_GetItem(tree, &item);
    return text;
  }
  static std::string SelectedText(HWND browser) {
    HWND tree = FindWindowExA(browser, NULL, "SysTreeView32", NULL);
    return ItemText(tree, TreeView_GetSelection(tree));
  }
  // Picks folder as a user would: the browser is asked to walk to it, and where Wine's walk stops
  // short (now and then, more often in a fresh prefix) its item is clicked in the tree among the
  // siblings of the selected item or of one of its parents. A drive root is only walked to.
  static void Pick(HWND browser, const std::string& folder) {
    const std::string leaf = folder.substr(folder.find_last_of('\\') + 1);
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM)folder.c_str());
    HWND tree = FindWindowExA(browser, NULL, "SysTreeView32", NULL);
    for (HTREEITEM level = TreeView_GetSelection(tree);
         !leaf.empty() && level != NULL &&
         !EqualIgnoringAsciiCase(SelectedText(browser).c_str(), leaf.c_str());
         level = TreeView_GetParent(tree, level)) {
      HTREEITEM parent = TreeView_GetParent(tree, level);
      for (HTREEITEM sibling = parent != NULL ? TreeView_GetChild(tree, parent) : NULL;
           sibling != NULL; sibling = TreeView_GetNextSibling(tree, sibling)) {
        if (EqualIgnoringAsciiCase(ItemText(tree, sibling).c_str(), leaf.c_str())) {
          TreeView_SelectItem(tree, sibling);
          break;
        }
      }
    }
    UiRobot::Click(browser, IDOK);
  }
  TempFolder temp_{"browse"};
  TestOwner owner_;
};

TEST_F(BrowserTest, TypedFoldersAreCheckedAskedAboutAndCreated) {
  char drive = MissingDrive();
  if (drive == 0) {
    GTEST_SKIP() << "every drive letter from Q: to Y: is in use";
  }
  const std::string t = temp_.Path();
  const std::string q = std::string(1, drive) + ":";
  const std::string longText = "C:\\" + std::string(300, 'x');
  struct Box {
    std::string text;
    int answer; // IDYES or IDNO for the question, IDOK for a warning
  };
  struct Case {
    std::string typed;
    std::vector<Box> boxes;
    int result;
    std::string typedFolder;
    std::string absent; // a folder that must not have been made
  } cases[] = {
      {"Games", {{Invalid("Games"), IDOK}}, 1, "", ""},
      {"C:", {{Invalid("C:"), IDOK}}, 1, "", ""},
      {longText, {{Invalid(longText.substr(0, 255)), IDOK}}, 1, "", ""},
      {"1:\\X", {{Ask("1:\\X"), IDYES}, {Failed("1:\\X"), IDOK}}, 1, "", ""},
      {q + "\\", {{Ask(q), IDYES}, {Failed(q), IDOK}}, 1, "", ""},
      {t + "\\New\\\\", {{Ask(t + "\\New\\"), IDNO}}, 1, "", t + "\\New"},
      {t + "\\Apps\\Tool\\Data", {{Ask(t + "\\Apps\\Tool\\Data"), IDNO}}, 1, "", t + "\\Apps"},
      {t + "\\New\\", {{Ask(t + "\\New"), IDYES}}, 0, t + "\\New", ""},
      {t + "\\New", {{Ask(t + "\\New"), IDYES}, {Failed(t + "\\New"), IDOK}}, 1, "", ""},
      {t + "\\Apps\\TOOL\\data\\",
       {{Ask(t + "\\Apps\\TOOL\\data"), IDYES}},
       0,
       t + "\\Apps\\TOOL\\data",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    installState.typedFolder[0] = '\0';
    UiRobot robot;
    for (const Box& box : c.boxes) {
      robot.Expect("message", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
        EXPECT_EQ(box.text, w.MessageText());
        EXPECT_EQ("Setup", w.caption);
        EXPECT_EQ(owner_.Window(), GetWindow(w.window, GW_OWNER));
        bool question = box.answer != IDOK;
        EXPECT_EQ(LoadIconA(NULL, question ? IDI_QUESTION : IDI_WARNING), w.Icon());
        EXPECT_EQ(question, w.Has(IDYES) && w.Has(IDNO));
        EXPECT_EQ(!question, w.Has(IDOK));
        EXPECT_FALSE(w.Has(IDCANCEL));
        UiRobot::Click(w.window, box.answer);
      });
    }
    EXPECT_EQ(c.result,
              BrowseCallback(owner_.Window(), BFFM_VALIDATEFAILEDA, (LPARAM)c.typed.c_str(), 0));
    EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
    EXPECT_EQ(c.typedFolder, installState.typedFolder);
    if (!c.absent.empty()) {
      EXPECT_FALSE(FolderExists(c.absent));
    }
  }
  EXPECT_TRUE(FolderExists(t + "\\Apps\\Tool"));
  EXPECT_TRUE(FolderExists(t + "\\Apps\\Tool\\Data"));
  EXPECT_STREQ("C:\\Demo", installState.destinationFolder); // only the browse takes it over
  EXPECT_EQ(0, BrowseCallback(owner_.Window(), BFFM_SELCHANGED, 0, 0));
}

TEST_F(BrowserTest, PickingAFolderOrADriveRootReplacesTheDestination) {
  MakeFolders(temp_ / "Current");
  MakeFolders(temp_ / "Picked");
  CopyText(installState.destinationFolder, MAX_PATH, (temp_ / "Current").c_str());
  struct Case {
    std::string pick;
    const char* preselected; // the tree item selected when the browser opens
  } cases[] = {{temp_ / "Picked", nullptr}, {"C:\\", "Picked"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pick);
    UiRobot robot;
    OnBrowser(robot, [c](HWND browser) {
      // Not on the first showing: see Pick.
      if (c.preselected != nullptr) {
        EXPECT_EQ(c.preselected, SelectedText(browser));
      }
      Pick(browser, c.pick);
    });
    BrowseForDestination(owner_.Window());
    EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
    EXPECT_TRUE(EqualIgnoringAsciiCase(c.pick.c_str(), installState.destinationFolder))
        << installState.destinationFolder;
  }
}

TEST_F(BrowserTest, ACreatedFolderLastsOneBrowseAndCancelKeepsTheDestination) {
  const std::string created = temp_ / "Typed\\Sub";
  const std::string other = temp_ / "Other";
  MakeFolders(other);
  UiRobot robot;
  // Creating a typed folder ends the browser without an item; the created folder is the choice.
  OnBrowser(robot, [created](HWND browser) {
    EXPECT_EQ(0, BrowseCallback(browser, BFFM_VALIDATEFAILEDA, (LPARAM)created.c_str(), 0));
    UiRobot::Click(browser, IDCANCEL);
  });
  robot.ExpectAndClick("question", IsMessageBox, IDYES);
  BrowseForDestination(owner_.Window());
  EXPECT_EQ(created, installState.destinationFolder);
  EXPECT_TRUE(FolderExists(created));

  OnBrowser(robot, [other](HWND browser) { Pick(browser, other); });
  BrowseForDestination(owner_.Window());
  EXPECT_TRUE(EqualIgnoringAsciiCase(other.c_str(), installState.destinationFolder))
      << installState.destinationFolder;

  OnBrowser(robot, [](HWND browser) { UiRobot::Click(browser, IDCANCEL); });
  BrowseForDestination(owner_.Window());
  EXPECT_TRUE(EqualIgnoringAsciiCase(other.c_str(), installState.destinationFolder))
      << installState.destinationFolder;
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_TRUE(FolderExists(created)); // a created folder stays
}

// Under code page 932 a typed folder is cut at real separators only: a trail byte 0x5C is neither
// a parent's end nor a trailing separator.
TEST_F(BrowserTest, DoubleByteTypedFolderIsCutAtRealSeparatorsOnly) {
  const std::string missing = MissingLocale("ja_JP.UTF-8", 932);
  if (!missing.empty()) {
    GTEST_SKIP() << missing;
  }
  CPINFO codePage; // taken as setup.exe takes it at start
  GetCPInfo(CP_ACP, &codePage);
  SetLeadByteRanges(codePage.LeadByte, sizeof codePage.LeadByte);
  const std::string parent = temp_ / "\x95\x5C";                           // 表
  const std::string typed = parent + "\\\x83\x5C\x83\x74\x83\x67\x95\x5C"; // ソフト表
  const std::string driveForm = "\x83\x5C:\\x"; // ソ:\x passes the drive test, as 1:\X does
  UiRobot robot;
  for (const auto& [folder, answer] :
       {std::make_pair(typed, IDYES), std::make_pair(driveForm, IDNO)}) {
    robot.Expect("question", IsMessageBox,
                 [&, folder = folder, answer = answer](UiRobot&, const WindowSnapshot& w) {
                   EXPECT_EQ(Ask(folder), w.MessageText());
                   UiRobot::Click(w.window, answer);
                 });
  }
  EXPECT_EQ(
      0, BrowseCallback(owner_.Window(), BFFM_VALIDATEFAILEDA, (LPARAM)(typed + "\\").c_str(), 0));
  EXPECT_EQ(1, BrowseCallback(owner_.Window(), BFFM_VALIDATEFAILEDA, (LPARAM)driveForm.c_str(), 0));
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  SetLeadByteRanges(NULL, 0);
  EXPECT_EQ(typed, installState.typedFolder);
  EXPECT_EQ("\x95\x5C ", EntryNames(temp_.Path()));
  EXPECT_EQ("\x83\x5C\x83\x74\x83\x67\x95\x5C ", EntryNames(parent));
}

} // namespace
