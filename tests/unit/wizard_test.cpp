// The wizard pages and the exit question, driven in-process by the UI robot.
#include <gtest/gtest.h>

#include <string>

#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource.h"
#include "ui/wizard_pages.h"

namespace {

class WizardTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    CopyText(installState.title, kValueSize, "Demo Setup");
    CopyText(installState.appName, kValueSize, "Demo");
    CopyText(installState.destinationFolder, MAX_PATH, "C:\\Demo");
  }
  INT_PTR ShowPage(int id) {
    return DialogBoxParamA(installState.instance, MAKEINTRESOURCEA(id), owner_.Window(),
                           WizardPageProc, 0);
  }
  TestOwner owner_;
};

TEST_F(WizardTest, DestinationPageShowsItsTextsAndAsksBeforeLeaving) {
  UiRobot robot;
  robot.Expect("destination page", IsDestinationPage, [](UiRobot&, const WindowSnapshot& w) {
    EXPECT_EQ("Demo Setup", w.caption);
    EXPECT_EQ(
        "Setup will install Demo in the following folder.\n\nTo install to this folder, click "
        "Next.\n\nTo install to a different folder, click Browse and select another "
        "folder.\n\nYou can choose not to install Demo by clicking Cancel to exit Setup.",
        w.Text(IDC_INTRODUCTION));
    EXPECT_EQ("C:\\Demo", w.Text(IDC_FOLDER_LABEL));
    EXPECT_FALSE(w.Control(IDC_BACK)->enabled);
    EXPECT_TRUE(w.Control(IDC_NEXT)->enabled);
    EXPECT_EQ("Destination Folder", w.Text(-1 & 0xFFFF));
    UiRobot::Click(w.window, IDC_CANCEL);
  });
  robot.Expect("exit question", IsExitQuestion, [](UiRobot& r, const WindowSnapshot& w) {
    EXPECT_EQ("Exit Setup", w.caption);
    EXPECT_EQ("&Resume", w.Text(IDC_CANCEL));
    EXPECT_EQ("E&xit Setup", w.Text(IDC_NEXT));
    HWND page = GetWindow(w.window, GW_OWNER);
    UiRobot::Click(w.window, IDC_CANCEL);                    // Resume: the page stays
    r.Later([page] { PostMessageA(page, WM_CLOSE, 0, 0); }); // then the close box
  });
  robot.Expect("exit question from the close box", IsExitQuestion,
               [](UiRobot& r, const WindowSnapshot& w) {
                 HWND page = GetWindow(w.window, GW_OWNER);
                 PostMessageA(w.window, WM_KEYDOWN, VK_ESCAPE, 0); // Escape counts as Resume
                 r.Later([page] { UiRobot::Click(page, IDC_CANCEL); });
               });
  robot.Expect("exit question a third time", IsExitQuestion, [](UiRobot&, const WindowSnapshot& w) {
    UiRobot::Click(w.window, IDC_NEXT); // Exit Setup
  });
  EXPECT_EQ(IDC_CANCEL, ShowPage(IDD_DESTINATION));
  EXPECT_TRUE(robot.AllMet()) << robot.Report();
  EXPECT_TRUE(robot.Problems().empty()) << robot.Report(); // the close box asked only once
}

} // namespace
