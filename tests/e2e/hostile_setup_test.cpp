// SETUP.DAT files no vendor should ship, run through the real setup.exe and driven from outside:
// every one must end in a message or a normal run, without a crash dialog or a hang, and write
// nothing that the file does not name.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdio.h>
#include <string>
#include <thread>
#include <vector>

#include "robot/process_robot.h"
#include "support/test_support.h"
#include "ui/resources/resource.h"

namespace {

const char kLoadError[] = "There was an error initialising the setup file:";
const char kFinished[] = "Setup has finished installing";
const char kFailed[] = "Setup did not complete successfully!";
const DWORD kCaseTimeoutMs = 60000;

struct HostileCase {
  std::string name;
  std::string setupDat;             // "@DEST@" stands for the destination folder
  const char* outcome;              // what the last message begins with; nullptr: any of the three
  std::vector<std::string> reached; // written outside the destination (relative to the sandbox)
};

std::string Filled(size_t length, char c) {
  return std::string(length, c);
}

// A sound file around the hostile part: Path always names the sandbox, so that a run never
// falls back to a folder outside it.
std::string Dat(const std::string& kvsetup, const std::string& sections,
                const std::string& strings = "APPNAME=Hostile App\nEXENAME=HApp\n") {
  return "[Version]\nSignature=\"$Chicago$\"\n[Strings]\n" + strings +
         "[KVSetup]\nPath=@DEST@\nTitle=Hostile Setup\n" + kvsetup + sections;
}
const std::string kOneGroup = "Group1=Files\nDescription1=Copying files...\n";
const std::string kFiles = "[Files]\na.txt\n[default_install]\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string Utf16(const std::string& text, bool bigEndian) {
  std::string wide = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) {
    wide += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
  }
  return wide;
}

// Seeded, so that a failing file can be made again.
std::string Junk(size_t length, unsigned seed) {
  std::string junk;
  for (size_t i = 0; i < length; ++i) {
    seed = seed * 1103515245u + 12345u;
    junk += (char)(seed >> 16);
  }
  return junk;
}

// ---- The sandbox: what is there before and after ---------------------------------------------

struct Entry {
  ULONGLONG size;
  FILETIME written;
};
using Tree = std::map<std::string, Entry>;

void Walk(const std::string& root, const std::string& relative, Tree* tree) {
  ForEachEntry(JoinPath(root, relative), [&](const WIN32_FIND_DATAA& entry) {
    bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::string name = relative + entry.cFileName + (folder ? "\\" : "");
    (*tree)[name] = {((ULONGLONG)entry.nFileSizeHigh << 32) | entry.nFileSizeLow,
                     entry.ftLastWriteTime};
    if (folder) {
      Walk(root, name, tree);
    }
  });
}

Tree Snapshot(const std::string& root) {
  Tree tree;
  Walk(root, "", &tree);
  return tree;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// Entries that appeared, changed or went away, except those allowed.
std::string Changes(const Tree& before, const Tree& after,
                    const std::vector<std::string>& allowed) {
  std::string changes;
  for (const auto& [path, entry] : after) {
    auto old = before.find(path);
    bool folder = path.back() == '\\'; // a folder's time changes with what is put in it
    bool same = old != before.end() &&
                (folder || (old->second.size == entry.size &&
                            CompareFileTime(&old->second.written, &entry.written) == 0));
    bool isAllowed = false;
    for (const std::string& prefix : allowed) {
      isAllowed |= StartsWith(path, prefix);
    }
    if (!same && !isAllowed) {
      changes += " written:" + path;
    }
  }
  for (const auto& [path, entry] : before) {
    if (after.count(path) == 0) {
      changes += " removed:" + path;
    }
  }
  return changes;
}

// ---- Driving setup.exe ------------------------------------------------------------------------

struct Search {
  DWORD processId; // 0: any process
  HWND found;
};

// Wine's crash dialog (winedbg) for any process, or a dialog or message box of setup.exe that
// waits for an answer (not the progress window).
BOOL CALLBACK FindWindowToAnswer(HWND window, LPARAM data) {
  Search* search = reinterpret_cast<Search*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) {
    return TRUE; // a page under its exit question is disabled
  }
  if (search->processId == 0
          ? WindowText(window) == "Program Error"
          : process == search->processId && GetDlgItem(window, IDC_PROGRESS_BAR) == NULL) {
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") == 0) {
      search->found = window;
      return FALSE;
    }
  }
  return TRUE;
}

HWND Find(DWORD processId) {
  Search search{processId, NULL};
  EnumWindows(FindWindowToAnswer, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct RunResult {
  std::vector<std::string> messages; // every message box, in order
  std::string problem;               // a crash dialog, a hang, a window that stays
  std::string destination;           // as the destination page showed it
  DWORD milliseconds = 0;
};

// Answers every window generically: Next on the pages, OK in message boxes, until setup.exe
// ends. A run that keeps coming back to its pages is left through Cancel and Exit Setup.
RunResult Drive(SetupProcess& setup, const std::string& sandboxDest) {
  RunResult result;
  DWORD start = GetTickCount();
  int pages = 0;
  for (;;) {
    HWND window = NULL;
    HWND crash = NULL;
    bool exited = false;
    bool answered = WaitUntil(
        [&] {
          exited = setup.WaitForExit(0, nullptr);
          crash = Find(0);
          window = exited || crash != NULL ? NULL : Find(setup.ProcessId());
          return exited || crash != NULL || window != NULL;
        },
        kCaseTimeoutMs);
    if (crash != NULL) {
      result.problem = "crash dialog";
      PostMessageA(crash, WM_CLOSE, 0, 0);
      break;
    }
    if (!answered) {
      result.problem = "hang: " + setup.Describe();
      break;
    }
    if (exited) {
      break;
    }
    WindowSnapshot shown = setup.Snapshot(window);
    int button = IDC_NEXT; // OK, Next and Exit Setup alike
    if (shown.IsMessageBox()) {
      result.messages.push_back(shown.MessageText());
    } else if (shown.Has(IDC_INTRODUCTION)) {
      result.destination = shown.Text(IDC_FOLDER_LABEL);
      // Only ever install into the sandbox: the default outside it is the design, not a fault.
      if (!StartsWith(result.destination, sandboxDest) || ++pages > 4) {
        button = IDC_CANCEL;
        result.messages.push_back("(cancelled at the destination " + result.destination + ")");
      }
    } else if (shown.Has(IDC_OPTION1) && ++pages > 4) {
      button = IDC_CANCEL;
    }
    // A click that reaches a dialog before its modal loop runs can be lost: click again.
    bool gone = false;
    for (DWORD waited = 0; !gone && waited < kCaseTimeoutMs; waited += 3000) {
      setup.Click(window, button);
      gone = setup.WaitForWindowGone(window, 3000);
    }
    if (!gone) {
      result.problem = "window does not close: " + setup.Describe();
      break;
    }
  }
  result.milliseconds = GetTickCount() - start;
  return result;
}

// One case: its sandbox, what was there before, and what the run did.
struct CaseRun {
  const HostileCase* hostile;
  std::unique_ptr<TempFolder> sandbox;
  std::string exe, dest;
  Tree before;
  RunResult run;
  bool ended = false;
  DWORD exitCode = 99;
};

void Prepare(CaseRun* c) {
  c->sandbox = std::make_unique<TempFolder>("hostile");
  const TempFolder& sandbox = *c->sandbox;
  const std::string dist = sandbox / "dist";
  c->dest = sandbox / "dest\\App";
  MakeFolders(dist + "\\sub");
  MakeFolders(sandbox / "dest");
  WriteTextFile(dist + "\\a.txt", "a");
  WriteTextFile(dist + "\\sub\\b.txt", "b");
  WriteTextFile(sandbox / "outside.txt", "outside");
  std::string text = Replace(c->hostile->setupDat, "@DEST@", c->dest);
  for (bool bigEndian : {false, true}) { // the same in files of two-byte characters
    text = Replace(text, Utf16("@DEST@", bigEndian).substr(2), Utf16(c->dest, bigEndian).substr(2));
  }
  WriteTextFile(dist + "\\SETUP.DAT", text);
  c->exe = dist + "\\setup.exe";
  CopyFileA(SetupExePath().c_str(), c->exe.c_str(), FALSE);
  c->before = Snapshot(sandbox.Path());
}

void Run(CaseRun* c) {
  SetupProcess setup;
  if (!setup.Start(c->exe)) {
    c->run.problem = "setup.exe did not start";
    return;
  }
  c->run = Drive(setup, c->dest);
  c->ended = setup.WaitForExit(kCaseTimeoutMs, &c->exitCode);
}

void Check(CaseRun* c) {
  const HostileCase& hostile = *c->hostile;
  for (const std::string& path : hostile.reached) { // a ".." line reaches the place it names
    EXPECT_TRUE(FileExists(*c->sandbox / path)) << hostile.name << ": " << path;
  }
  std::vector<std::string> allowed = hostile.reached;
  allowed.push_back("dest\\");
  allowed.push_back("dist\\sizes.txt");
  std::string changes = Changes(c->before, Snapshot(c->sandbox->Path()), allowed);
  const RunResult& run = c->run;
  std::string last = run.messages.empty() ? "" : run.messages.back();
  std::string shown;
  for (const std::string& message : run.messages) {
    shown += (shown.empty() ? "" : " | ") +
             Replace(Replace(message, c->sandbox->Path(), "<sandbox>"), "\n", " ").substr(0, 110);
  }
  printf("[hostile] %-28s %6lu ms: %s\n", hostile.name.c_str(), run.milliseconds, shown.c_str());
  EXPECT_EQ("", run.problem) << hostile.name;
  EXPECT_TRUE(c->ended) << hostile.name;
  EXPECT_EQ(0u, c->exitCode) << hostile.name << ": a crash ends with the exception code";
  EXPECT_EQ("", changes) << hostile.name;
  bool knownEnd =
      StartsWith(last, kLoadError) || StartsWith(last, kFinished) || StartsWith(last, kFailed);
  EXPECT_TRUE(knownEnd) << hostile.name << ": " << last;
  if (hostile.outcome != nullptr) {
    EXPECT_TRUE(StartsWith(last, hostile.outcome)) << hostile.name << ": " << last;
  }
}

// Runs the cases a few at a time: most of a run is waiting for Wine.
void RunCampaign(const std::vector<HostileCase>& cases) {
  struct ViewGuard { // RunOnce as the 32-bit installer sees it
    ViewGuard() {
      registryView = KEY_WOW64_32KEY;
    }
    ~ViewGuard() {
      registryView = 0;
    }
  } view;
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  SavedRegistryValue wrapper(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
  const std::string links[] = {ShellFolder("Programs"), ShellFolder("Desktop")};
  const Tree linksBefore[] = {Snapshot(links[0]), Snapshot(links[1])};

  const size_t kAtOnce = 8;
  for (size_t first = 0; first < cases.size(); first += kAtOnce) {
    std::vector<CaseRun> batch(std::min(kAtOnce, cases.size() - first));
    for (size_t i = 0; i < batch.size(); ++i) {
      batch[i].hostile = &cases[first + i];
      Prepare(&batch[i]);
    }
    std::vector<std::thread> threads;
    for (CaseRun& c : batch) {
      threads.emplace_back(Run, &c);
    }
    for (std::thread& t : threads) {
      t.join();
    }
    for (CaseRun& c : batch) {
      Check(&c);
    }
  }

  std::string written;
  for (int i = 0; i < 2; ++i) { // shortcuts named by APPNAME, removed again
    for (const auto& [path, entry] : Snapshot(links[i])) {
      if (linksBefore[i].count(path) == 0) {
        bool isLink = path.size() > 4 && path.compare(path.size() - 4, 4, ".lnk") == 0;
        written += isLink ? "" : " " + JoinPath(links[i], path);
        DeleteFileA(JoinPath(links[i], path).c_str());
      }
    }
  }
  EXPECT_EQ("", written) << "written beside the shortcuts";
  DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\KvsHostile");
}

// ---- The campaign -----------------------------------------------------------------------------

const size_t kLengths[] = {127, 128, 255, 256, 511, 4096};

TEST(HostileSetupFile, OverLongKeysValuesSectionNamesAndLines) {
  std::vector<HostileCase> cases;
  for (size_t n : kLengths) {
    std::string at = " " + std::to_string(n);
    // Every value, a junk key, a line of plain text and a group line at once.
    cases.push_back({"values, key, lines" + at,
                     Dat("Description1=" + Filled(n, 'd') + "\nGroup1=Files\n" + Filled(n, 'k') +
                             "=v\nTitle=" + Filled(n, 't') + "\n" + Filled(n, 'j') +
                             "\nPath=@DEST@\\" + Filled(n, 'p') + "\n",
                         "[Files]\n" + Filled(n - 6, 'g') + ",a.txt\na.txt\n[default_install]\n",
                         "APPNAME=" + Filled(n, 'a') + "\nEXENAME=" + Filled(n, 'e') + "\n"),
                     nullptr,
                     {}});
    // A group section whose name is longer than the 127 characters GroupN is read into.
    cases.push_back({"section name" + at,
                     Dat("Group1=" + Filled(n, 's') + "\nDescription1=d\n",
                         "[" + Filled(n, 's') + "]\na.txt\n[default_install]\n"),
                     nullptr,
                     {}});
  }
  RunCampaign(cases);
}

TEST(HostileSetupFile, GroupCountsAndGroupLines) {
  std::string groups;
  for (int i = 1; i <= 129; ++i) {
    groups += "Group" + std::to_string(i) + "=Files\nDescription" + std::to_string(i) + "=g\n";
  }
  const std::string groups128 = groups.substr(0, groups.find("Group129"));
  const std::string twoOptions = kOneGroup + "Group2=Files\nDescription2=d\nOption2=First\n" +
                                 "Group3=Files\nDescription3=d\nOption3=Second\n";
  const std::string section = "\n[default_install]\n";
  RunCampaign({
      {"128 groups", Dat(groups128, kFiles), kFinished, {}},
      {"129 groups", Dat(groups, kFiles), kFinished, {}},
      {"three options", Dat(twoOptions + "Option4=Third\n", kFiles), kLoadError, {}},
      {"two options, wild sizes",
       Dat(twoOptions + "Size1=99999999999999\nSize2=-2147483648\nSize3=+-7\n", kFiles),
       kFinished,
       {}},
      {"missing and empty sections",
       Dat(kOneGroup + "Group2=Nowhere\nDescription2=d\n", "[Files]\n[default_install]\n"),
       kFinished,
       {}},
      {"commas only", Dat(kOneGroup, "[Files]\n,\n,,\n\" , \"" + section), kFailed, {}},
      {"dot-dot paths",
       Dat(kOneGroup, "[Files]\n..\\..\\escaped.txt,a.txt\ngot.txt,..\\outside.txt" + section),
       kFinished,
       {"escaped.txt"}}, // the place the line names, one above the destination's parent
      {"absolute and rooted targets",
       Dat(kOneGroup, "[Files]\nC:\\abs-hostile.txt,a.txt\n\\rooted.txt,a.txt" + section),
       nullptr,
       {}},
      {"absolute source",
       Dat(kOneGroup, "[Files]\nwin.txt,C:\\windows\\win.ini" + section),
       kFailed,
       {}},
      {"device names", Dat(kOneGroup, "[Files]\nNUL,a.txt\nCON,sub\\b.txt" + section), nullptr, {}},
  });
}

TEST(HostileSetupFile, EncodingsLineEndsAndBinaryJunk) {
  const std::string sound = Dat(kOneGroup, kFiles);
  RunCampaign({
      {"CRLF line ends", Replace(sound, "\n", "\r\n"), kFinished, {}},
      {"CR line ends", Replace(sound, "\n", "\r"), nullptr, {}},
      {"mixed line ends", Replace(Replace(sound, "]\n", "]\r"), "=", "=\r\n"), nullptr, {}},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + sound, nullptr, {}},
      {"UTF-16LE byte-order mark", Utf16(sound, false), nullptr, {}},
      {"UTF-16BE byte-order mark", Utf16(sound, true), nullptr, {}},
      {"NUL bytes",
       Replace(Dat(kOneGroup, "[Files]\na.txt@\ngot@.txt,a.txt\n[default_install]\n",
                   "APPNAME=Hos@tile\nEXENAME=H@App\n"),
               "@", std::string(1, '\0')),
       nullptr,
       {}},
      {"control characters",
       Dat(kOneGroup, kFiles, "APPNAME=\x01\x1b\x7f\t\b\nEXENAME=\x02\n"),
       nullptr,
       {}},
      {"binary junk", Junk(4096, 1), kLoadError, {}},
      {"junk after a sound file", sound + Junk(2048, 2), nullptr, {}},
      {"empty file", "", kLoadError, {}},
  });
}

TEST(HostileSetupFile, QuotesBracketsStringsAndSections) {
  const std::string hostileReg =
      "[default_install]\nAddReg=Reg\n[Reg]\n"
      "HKCU,Software\\KvsHostile\\%NOPE%,%NOPE%,,%NOPE%\n"
      "HKCU,Software\\KvsHostile\\" +
      Filled(300, 'r') +
      ",v,,1\n"
      "HKCU,Software\\KvsHostile,bin,1,zz,yy\nHKXX,Software\\KvsHostile,v,,1\n";
  RunCampaign({
      {"unbalanced quotes",
       Dat("Group1=\"Files\nDescription1=\"d\n", "[Files]\n\"a.txt\n[default_install]\n",
           "APPNAME=\"Hostile App\nEXENAME=HApp\"\n"),
       nullptr,
       {}},
      {"unbalanced brackets",
       Dat(kOneGroup, "]]]\n[Files\na.txt\n[[Files]]\n[default_install]\n"),
       nullptr,
       {}},
      {"unresolved strings",
       Dat("Group1=%NOPE%\nDescription1=%NOPE%\nGroup2=Files\nDescription2=d\n",
           "[Files]\n%NOPE%\\a.txt,a.txt\n" + hostileReg, "APPNAME=%NOPE%\nEXENAME=%NOPE%\n"),
       nullptr,
       {}},
      {"recursive strings",
       Dat(kOneGroup, "[Files]\n%A%,a.txt\n[default_install]\n",
           "A=%B%\nB=%A%\nAPPNAME=%A%\nEXENAME=x\n"),
       nullptr,
       {}},
      {"percent runs",
       Dat(kOneGroup, "[Files]\n%%,a.txt\n%,a.txt\n%1%,a.txt\n[default_install]\n",
           "APPNAME=%%%%%\nEXENAME=%\n"),
       nullptr,
       {}},
      {"duplicate sections",
       Dat(kOneGroup, kFiles + "[KVSetup]\nPath=@DEST@\nTitle=Second\n[Files]\nsub\\b.txt\n"
                               "[Strings]\nAPPNAME=Second\n[default_install]\n"),
       kFinished,
       {}},
      {"no default_install", Dat(kOneGroup, "[Files]\na.txt\n"), nullptr, {}},
      {"hostile registry lines", Dat(kOneGroup, "[Files]\na.txt\n" + hostileReg), nullptr, {}},
      {"no Version section",
       Replace(Dat(kOneGroup, kFiles), "[Version]", "[Nothing]"),
       nullptr,
       {}},
  });
}

} // namespace
