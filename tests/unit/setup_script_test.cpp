// Loading SETUP.DAT in-process: every loading error with its exact message, the group list rules,
// value limits and the default destination.
#include <gtest/gtest.h>

#include <string>

#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_script.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"

namespace {

const char kVersion[] = "[Version]\nSignature=\"$Chicago$\"\n";
const char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

std::string Strings(const std::string& app = "Demo", const std::string& exe = "DemoExe") {
  return "[Strings]\nAPPNAME=" + app + "\nEXENAME=" + exe + "\n";
}

class LoadingTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
  }
  void TearDown() override {
    CloseSetupScript();
  }

  // Loads text as SETUP.DAT; returns the loader's result and the message shown, if any.
  int Load(const std::string& text, std::string* message = nullptr) {
    dist_.SetSetupDat(text);
    return LoadFrom(dist_.Path() + "\\", message);
  }

  int LoadFrom(const std::string& folder, std::string* message) {
    ScopedModuleFolder where(folder);
    UiRobot robot;
    std::string shown;
    robot.Expect("loading error", IsMessageBox, [&](UiRobot&, const WindowSnapshot& w) {
      shown = w.MessageText();
      EXPECT_EQ("Setup Error", w.caption);
      EXPECT_EQ(LoadIconA(NULL, IDI_ERROR), w.Icon());
      EXPECT_TRUE(w.Has(IDOK));
      EXPECT_FALSE(w.Has(IDCANCEL));
      UiRobot::Click(w.window, IDOK);
    });
    int result = LoadSetupScript(owner_.Window());
    EXPECT_TRUE(robot.Problems().empty()) << robot.Report();
    if (message != nullptr) {
      *message = shown;
    } else {
      EXPECT_EQ("", shown);
    }
    return result;
  }

  std::string Expected(const std::string& reason) const {
    std::string text =
        "There was an error initialising the setup file:\n\n" + dist_.Path() + "\\SETUP.DAT";
    return reason.empty() ? text : text + "\n\n" + reason;
  }

  Distribution dist_;
  TestOwner owner_;
};

TEST_F(LoadingTest, LoadsTheExampleDistribution) {
  dist_.CopyExample();
  ASSERT_EQ(1, LoadFrom(dist_.Path() + "\\", nullptr));
  EXPECT_EQ(dist_.Path() + "\\", installState.moduleFolder);
  EXPECT_EQ(dist_.Path() + "\\SETUP.DAT", installState.setupFilePath);
  EXPECT_NE(INVALID_HANDLE_VALUE, installState.infHandle);
  EXPECT_EQ(3, installState.groupCount);
  EXPECT_EQ(1, installState.optionalCount);
  EXPECT_EQ(2, installState.optionalGroups[0]);
  EXPECT_STREQ("Program.Files", installState.groups[0].sectionName);
  EXPECT_STREQ("Demo Song", installState.groups[2].optionText);
  EXPECT_STREQ("Copying the demo song...", installState.groups[2].description);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(1, installState.groups[i].selected) << i;
  }
  EXPECT_STREQ("Kelvara Demo", installState.appName);
  EXPECT_STREQ("KDemo", installState.exeName);
  EXPECT_STREQ("Kelvara Demo Setup", installState.title);
  EXPECT_STREQ("C:\\Program Files\\Kelvara Demo", installState.destinationFolder);
}

TEST_F(LoadingTest, EachLoadingErrorHasItsMessageInTheOrderTested) {
  struct Case {
    const char* name;
    std::string text;
    const char* reason;
  } cases[] = {
      {"no [Version] although the keys read as INI",
       Strings() + "[KVSetup]\nTitle=T\nGroup1=G\nDescription1=D\n[G]\na.txt\n", ""},
      {"binary junk", std::string("\x01\x02\xff\xfe junk \x00\x7f", 12), ""},
      {"no group", kVersion + Strings() + "[KVSetup]\nTitle=T\n", "<Missing Section>"},
      {"a section name without description",
       kVersion + Strings() + "[KVSetup]\nTitle=T\nGroup1=G\n", "<Missing Section>"},
      {"three options, one on the entry that ends the list",
       kVersion + Strings() +
           "[KVSetup]\nTitle=T\nGroup1=A\nDescription1=a\nOption1=o1\nGroup2=B\nDescription2=b\n"
           "Option2=o2\nOption3=o3\n",
       "<Maximum 2 optional groups>"},
      {"no APPNAME",
       kVersion +
           std::string("[Strings]\nEXENAME=E\n[KVSetup]\nTitle=T\nGroup1=G\nDescription1=D\n"),
       "<Missing App>"},
      {"no EXENAME",
       kVersion +
           std::string("[Strings]\nAPPNAME=A\n[KVSetup]\nTitle=T\nGroup1=G\nDescription1=D\n"),
       "<Missing Exe>"},
      {"no Title", kVersion + Strings() + "[KVSetup]\nGroup1=G\nDescription1=D\n",
       "<Missing Title>"},
      {"no group comes before no APPNAME", kVersion + std::string("[KVSetup]\nTitle=T\n"),
       "<Missing Section>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetInstallState();
    std::string message;
    EXPECT_EQ(0, Load(c.text, &message));
    EXPECT_EQ(Expected(c.reason), message);
    EXPECT_EQ(INVALID_HANDLE_VALUE, installState.infHandle); // closed before the message
  }
}

TEST_F(LoadingTest, NoSetupFileAtAll) {
  std::string message;
  EXPECT_EQ(0, LoadFrom(dist_.Path() + "\\", &message));
  EXPECT_EQ(Expected(""), message);
}

TEST_F(LoadingTest, GroupListEndsAtAGapAndAfter128Groups) {
  std::string gap = kVersion + Strings() +
                    "[KVSetup]\nTitle=T\nGroup1=A\nDescription1=a\nGroup2=B\nDescription2=b\n"
                    "Group4=D\nDescription4=d\nOption4=never\n";
  ASSERT_EQ(1, Load(gap));
  EXPECT_EQ(2, installState.groupCount);
  EXPECT_EQ(0, installState.optionalCount); // options after the end are not read
  CloseSetupScript();

  std::string many = kVersion + Strings() + "[KVSetup]\nTitle=T\n";
  for (int n = 1; n <= 129; ++n) {
    many += "Group" + std::to_string(n) + "=S" + std::to_string(n) + "\nDescription" +
            std::to_string(n) + "=d\n";
  }
  many += "Option129=beyond\n";
  ResetInstallState();
  ASSERT_EQ(1, Load(many));
  EXPECT_EQ(128, installState.groupCount);
  EXPECT_EQ(0, installState.optionalCount);
  EXPECT_STREQ("S128", installState.groups[127].sectionName);
}

TEST_F(LoadingTest, OptionOnTheEndingEntryStillCounts) {
  ASSERT_EQ(1,
            Load(kVersion + Strings() +
                 "[KVSetup]\nTitle=T\nGroup1=A\nDescription1=a\nOption1=first\nOption2=ghost\n"));
  EXPECT_EQ(1, installState.groupCount);
  EXPECT_EQ(2, installState.optionalCount);
  EXPECT_EQ(1, installState.optionalGroups[1]);
  EXPECT_EQ(0, installState.groups[1].selected);
}

TEST_F(LoadingTest, ValuesLongerThan127CharactersAreCut) {
  std::string longApp(300, 'a');
  std::string longTitle(128, 't');
  ASSERT_EQ(1, Load(kVersion + Strings(longApp) + "[KVSetup]\nTitle=" + longTitle +
                    "\nGroup1=G\nDescription1=" + std::string(200, 'd') + "\n"));
  EXPECT_EQ(std::string(127, 'a'), installState.appName);
  EXPECT_EQ(std::string(127, 't'), installState.title);
  EXPECT_EQ(std::string(127, 'd'), installState.groups[0].description);
  // Without App Paths or Path the default is C:\ and the (cut) application name.
  EXPECT_EQ("C:\\" + std::string(127, 'a'), installState.destinationFolder);
}

TEST_F(LoadingTest, DefaultDestinationComesFromAppPathsThenPathThenTheName) {
  const std::string exe = "KvsLoaderTestExe";
  const std::string key = kAppPaths + exe + ".exe";
  std::string base =
      kVersion + Strings("Demo", exe) + "[KVSetup]\nTitle=T\nGroup1=G\nDescription1=D\n";

  ASSERT_EQ(1, Load(base));
  EXPECT_STREQ("C:\\Demo", installState.destinationFolder);
  CloseSetupScript();

  ASSERT_EQ(1, Load(base + "Path=E:\\From\\Path\n"));
  EXPECT_STREQ("E:\\From\\Path", installState.destinationFolder);
  CloseSetupScript();

  ScopedRegistryKey appPaths(HKEY_LOCAL_MACHINE, key);
  appPaths.SetString("Path", "F:\\Registered");
  ASSERT_EQ(1, Load(base + "Path=E:\\From\\Path\n"));
  EXPECT_STREQ("F:\\Registered", installState.destinationFolder);
}

TEST_F(LoadingTest, AppPathValueWithoutTerminatorOrTooLong) {
  const std::string key = kAppPaths + std::string("KvsRawExe.exe");
  ScopedRegistryKey appPaths(HKEY_LOCAL_MACHINE, key);
  const char raw[] = {'G', ':', '\\', 'R', 'a', 'w'}; // no terminating zero
  appPaths.SetRaw("Path", REG_SZ, raw, sizeof raw);
  char buffer[MAX_PATH + 16];
  memset(buffer, '#', sizeof buffer);
  buffer[0] = '\0';
  ReadAppPath(key.c_str(), "Path", buffer);
  EXPECT_STREQ("G:\\Raw", buffer);

  std::string tooLong = "H:\\" + std::string(300, 'x');
  appPaths.SetString("Path", tooLong);
  memset(buffer, '#', sizeof buffer);
  CopyText(buffer, MAX_PATH, "unchanged");
  ReadAppPath(key.c_str(), "Path", buffer);
  EXPECT_STREQ("unchanged", buffer); // treated as absent
  EXPECT_EQ('#', buffer[MAX_PATH]);  // nothing written past the field

  memset(buffer, 0, sizeof buffer);
  ReadAppPath((kAppPaths + std::string("KvsNoSuchExe.exe")).c_str(), "Path", buffer);
  EXPECT_STREQ("", buffer);
}

TEST_F(LoadingTest, InstallerFolderTooLongForTheSetupFileName) {
  std::string folder = "C:\\" + std::string(248, 'f') + "\\"; // 252 characters
  std::string message;
  EXPECT_EQ(0, LoadFrom(folder, &message));
  EXPECT_EQ(0u, message.find("There was an error initialising the setup file:\n\n" + folder));
  EXPECT_EQ(MAX_PATH - 1, (int)strlen(installState.setupFilePath)); // cut, not overrun
  EXPECT_EQ(INVALID_HANDLE_VALUE, installState.infHandle);
}

} // namespace
