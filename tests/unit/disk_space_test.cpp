// Group sizes measured over real files and a real INF, the sizes file, and the options page's
// space labels driven in-process by the UI robot.
#include <gtest/gtest.h>

#include <string>

#include "engine/disk_space.h"
#include "robot/ui_robot.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_api.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "ui/resources/resource.h"
#include "ui/wizard_pages.h"

namespace {

struct Estimate {
  int result;
  int32_t net;
  int32_t gross;
};

class EstimateTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    CopyText(installState.destinationFolder, MAX_PATH, dest_.Path().c_str());
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA(dest_.Path().substr(0, 3).c_str(), &sectors, &bytes,
                                  &freeClusters, &clusters));
    c_ = (int32_t)(sectors * bytes);
  }
  void TearDown() override {
    CloseSetupFile(installState.infHandle);
  }
  void Load(const std::string& setupDat) {
    dist_.SetSetupDat("[Version]\nSignature=\"$Chicago$\"\n" + setupDat);
    CopyText(installState.moduleFolder, MAX_PATH, (dist_.Path() + "\\").c_str());
    CopyText(installState.setupFilePath, MAX_PATH, dist_.File("SETUP.DAT").c_str());
    installState.infHandle = OpenSetupFile(installState.setupFilePath);
    ASSERT_NE(INVALID_HANDLE_VALUE, installState.infHandle);
  }
  Estimate Run(const char* section, int16_t index) {
    Estimate e = {0, 111, 222};
    e.result = EstimateGroupSpace(installState.infHandle, section, &e.net, &e.gross, index);
    return e;
  }
  std::string Sizes(const char* section, const char* key) {
    char value[128];
    GetPrivateProfileStringA(section, key, "<none>", value, sizeof value,
                             dist_.File("sizes.txt").c_str());
    return value;
  }
  void Place(const std::string& path, int32_t bytes) {
    MakeFolders(path.substr(0, path.find_last_of('\\')));
    WriteTextFile(path, std::string((size_t)bytes, 'x'));
  }

  Distribution dist_;
  TempFolder dest_{"dest"};
  int32_t c_ = 0; // the destination drive's cluster size
};

TEST_F(EstimateTest, CachedSizesAreUsedAsTheyStandAndOnlyMeasuredOnesAreWritten) {
  Load("[KVSetup]\nSize1=0\nSize2=\nSize3=4096\nSize4=abc\nSize5=42kb\nSize6=-5\n"
       "[Files]\none.bin\nbig.bin\n[Missing]\nnot-there.bin\n");
  dist_.AddFile("one.bin", "1");
  Place(dist_.File("big.bin"), c_ + 1);
  Place(dest_ / "one.bin", 1); // already present: one cluster less to find
  WriteTextFile(dist_.File("sizes.txt"), "[Other]\nKeep=yes\n[KVSetup]\nSize3=999\nSize1=1\n");
  struct Case {
    int16_t index;
    const char* section;
    int32_t cached; // 0: measured
  } cases[] = {{0, "Files", 0},   {1, "Files", 0},  {2, "Files", 4096}, {2, "Missing", 4096},
               {3, "Files", 0},   {4, "Files", 42}, {5, "Files", -5},   {6, "Files", 0},
               {7, "Missing", 0}, {6, "Missing", 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string("Size") + std::to_string(k.index + 1) + " over " + k.section);
    bool files = std::string(k.section) == "Files";
    int32_t gross = k.cached != 0 ? k.cached : files ? 3 * c_ : 0;
    Estimate e = Run(k.section, k.index);
    EXPECT_EQ(1, e.result);
    EXPECT_EQ(gross, e.gross);
    EXPECT_EQ(gross - (files ? c_ : 0), e.net);
    std::string key = "Size" + std::to_string(k.index + 1);
    if (k.cached == 0) {
      EXPECT_EQ(std::to_string(gross), Sizes("KVSetup", key.c_str()));
    }
  }
  EXPECT_EQ("yes", Sizes("Other", "Keep"));
  EXPECT_EQ("999", Sizes("KVSetup", "Size3"));
  EXPECT_EQ("<none>", Sizes("KVSetup", "Size5"));
  EXPECT_EQ("<none>", Sizes("KVSetup", "Size6"));
  EXPECT_EQ("0", Sizes("KVSetup", "Size7")); // the last measure wins
  EXPECT_EQ("0", Sizes("KVSetup", "Size8"));
}

TEST_F(EstimateTest, SourceAndTargetComeFromTheirSidesOfTheFirstComma) {
  Load("[Forms]\nData\\Big.bin,Disk1\\Big.bin\na,b,c\n" + std::string(300, 'x') + "\nafter.bin\n");
  Place(dist_.File("Disk1\\Big.bin"), 3 * c_ + 1); // 4 clusters
  Place(dist_.File("b,c"), 1);                     // 1 cluster
  Place(dist_.File("after.bin"), 1);               // after the unreadable line: not counted
  Place(dist_.File("Data\\Big.bin"), 6 * c_);      // decoys: target names on the source side
  Place(dist_.File("b"), 7 * c_);
  Place(dest_ / "Data\\Big.bin", 2 * c_); // present targets
  Place(dest_ / "a", 1);
  Place(dest_ / "Disk1\\Big.bin", 9 * c_); // a source name on the target side
  Estimate e = Run("Forms", 0);
  EXPECT_EQ(1, e.result);
  EXPECT_EQ(5 * c_, e.gross);
  EXPECT_EQ(2 * c_, e.net);
}

TEST_F(EstimateTest, PresentTargetsLowerTheNetSizeEvenBelowZero) {
  Load("[Present]\np1.bin\nsub\\p2.bin\n");
  Place(dist_.File("p1.bin"), 10);
  Place(dist_.File("sub\\p2.bin"), c_ + 5);
  struct Case {
    const char* name;
    int32_t p1, p2; // sizes at the destination; 0: absent
    int32_t net;
  } cases[] = {{"none present", 0, 0, 3 * c_},
               {"present with the sizes they will have", 10, c_ + 5, 0},
               {"larger than the new ones", 2 * c_, 3 * c_, -2 * c_},
               {"one smaller, still a cluster", 1, 0, 2 * c_}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    DeleteTree(dest_ / "sub");
    DeleteFileA((dest_ / "p1.bin").c_str());
    if (k.p1 != 0) {
      Place(dest_ / "p1.bin", k.p1);
    }
    if (k.p2 != 0) {
      Place(dest_ / "sub\\p2.bin", k.p2);
    }
    Estimate e = Run("Present", 0);
    EXPECT_EQ(3 * c_, e.gross);
    EXPECT_EQ(k.net, e.net);
  }
  // A destination ending in a backslash (a drive root) doubles it: still the same files.
  CopyText(installState.destinationFolder, MAX_PATH, (dest_.Path() + "\\").c_str());
  EXPECT_EQ(2 * c_, Run("Present", 0).net);
}

TEST_F(EstimateTest, MissingOrEmptySectionsLeaveEverythingAsItWas) {
  Load("[Empty]\n[Files]\none.bin\n");
  for (const char* section : {"Empty", "NoSuchSection"}) {
    SCOPED_TRACE(section);
    Estimate e = Run(section, 0);
    EXPECT_EQ(0, e.result);
    EXPECT_EQ(111, e.net);
    EXPECT_EQ(222, e.gross);
    EXPECT_FALSE(FileExists(dist_.File("sizes.txt")));
  }
}

TEST_F(EstimateTest, AnUnwritableSizesFileIsIgnoredQuietly) {
  // The read-only attribute does not stop root under Wine; a file system where nobody can create
  // a file does, so it stands in for the read-only disc.
  if (!FolderExists("Z:\\proc\\self")) {
    GTEST_SKIP() << "no read-only file system at Z:\\proc";
  }
  Load("[Files]\none.bin\n");
  dist_.AddFile("one.bin", "1");
  CopyText(installState.setupFilePath, MAX_PATH, "Z:\\proc\\SETUP.DAT");
  UiRobot robot;
  Estimate e = Run("Files", 0);
  EXPECT_EQ(1, e.result);
  EXPECT_EQ(c_, e.gross);
  EXPECT_EQ(c_, e.net);
  EXPECT_FALSE(FileExists("Z:\\proc\\sizes.txt"));
  EXPECT_TRUE(robot.Seen().empty()) << robot.Report();
}

TEST_F(EstimateTest, TenThousandLinesAreEachCountedOnce) {
  // Every target a different 1-byte file, plus one target repeated in other letter cases.
  std::string lines = "[Many]\n";
  char name[32];
  for (int i = 0; i < 10000; ++i) {
    FormatText(name, sizeof name, "d\\t%d.bin,one.bin\n", 10000 + i);
    lines += name;
  }
  lines += "D\\T10000.BIN,one.bin\n";
  Load(lines);
  dist_.AddFile("one.bin", "1");
  for (int i = 0; i < 10; ++i) {
    FormatText(name, sizeof name, "d\\t%d.bin", 10000 + i);
    Place(dest_ / name, 1);
  }
  Estimate e = Run("Many", 0);
  EXPECT_EQ(1, e.result);
  EXPECT_EQ(10000 * c_, e.gross);
  EXPECT_EQ(9990 * c_, e.net);
}

// ---- The options page --------------------------------------------------------------------------

const int32_t kMB = 1048576;

class OptionsPageTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetInstallState();
    CopyText(installState.title, kValueSize, "Demo Setup");
    installState.pageIndex = 1;
    installState.freeSpaceMB = 1234.5f;
    installState.groupCount = 3;
    struct {
      const char* option;
      int32_t gross, net;
    } groups[] = {{"", 2 * kMB, kMB},
                  {"Sample Files", 2 * kMB, 3 * kMB / 2},
                  {"Demo Song", 115867648, 3 * kMB}};
    for (int i = 0; i < 3; ++i) {
      CopyText(installState.groups[i].optionText, kValueSize, groups[i].option);
      installState.groups[i].grossSize = groups[i].gross;
      installState.groups[i].netSize = groups[i].net;
      installState.groups[i].selected = 1;
    }
  }
  INT_PTR Show() {
    return DialogBoxParamA(installState.instance, MAKEINTRESOURCEA(IDD_OPTIONS), owner_.Window(),
                           WizardPageProc, 0);
  }
  TestOwner owner_;
};

TEST_F(OptionsPageTest, ClearingABoxUpdatesTheRequiredSpaceAtOnce) {
  installState.optionalCount = 2;
  installState.optionalGroups[0] = 1;
  installState.optionalGroups[1] = 2;
  UiRobot robot;
  std::vector<std::string> seen; // required, size 1, size 2 after each step
  robot.Expect("options page", IsOptionsPage, [&](UiRobot& r, const WindowSnapshot& w) {
    EXPECT_EQ("Sample Files", w.Text(IDC_OPTION1));
    EXPECT_EQ("Demo Song", w.Text(IDC_OPTION2));
    EXPECT_EQ("1235 MB", w.Text(IDC_AVAILABLE_VALUE));
    HWND page = w.window;
    auto record = [&seen, page] {
      WindowSnapshot now = TakeSnapshot(page);
      seen.push_back(now.Text(IDC_REQUIRED_VALUE) + " | " + now.Text(IDC_OPTION1_SIZE) + " | " +
                     now.Text(IDC_OPTION2_SIZE));
    };
    record();
    UiRobot::Click(page, IDC_OPTION1);
    r.Later([&r, page, record] {
      record();
      UiRobot::Click(page, IDC_OPTION2);
      r.Later([page, record] {
        record();
        UiRobot::Click(page, IDC_NEXT);
      });
    });
  });
  EXPECT_EQ(IDC_NEXT, Show());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  std::vector<std::string> expected = {"5.50 MB | 2.00 MB | 111 MB", "4.00 MB | 2.00 MB | 111 MB",
                                       "1.00 MB | 2.00 MB | 111 MB"};
  EXPECT_EQ(expected, seen);
  EXPECT_EQ(0, installState.groups[1].selected);
  EXPECT_EQ(0, installState.groups[2].selected);
  EXPECT_EQ(1.0f, installState.requiredSpaceMB);
}

TEST_F(OptionsPageTest, OneOptionalGroupHidesTheSecondBoxAndItsSize) {
  installState.optionalCount = 1;
  installState.optionalGroups[0] = 2;
  UiRobot robot;
  robot.Expect("options page", IsOptionsPage, [](UiRobot&, const WindowSnapshot& w) {
    EXPECT_EQ("Demo Song", w.Text(IDC_OPTION1));
    EXPECT_EQ("111 MB", w.Text(IDC_OPTION1_SIZE));
    EXPECT_EQ("5.50 MB", w.Text(IDC_REQUIRED_VALUE));
    EXPECT_TRUE(w.Control(IDC_OPTION1)->style & WS_VISIBLE);
    EXPECT_FALSE(w.Control(IDC_OPTION2)->style & WS_VISIBLE);
    EXPECT_FALSE(w.Control(IDC_OPTION2_SIZE)->style & WS_VISIBLE);
    UiRobot::Click(w.window, IDC_OPTION1);
    UiRobot::Click(w.window, IDC_NEXT);
  });
  EXPECT_EQ(IDC_NEXT, Show());
  EXPECT_TRUE(robot.AllMet() && robot.Problems().empty()) << robot.Report();
  EXPECT_EQ(0, installState.groups[2].selected);
  EXPECT_EQ(2.5f, installState.requiredSpaceMB); // the two always-installed groups
}

} // namespace
