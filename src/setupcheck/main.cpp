// setupcheck: checks a distribution folder the way setup.exe will read it, shows what an install
// does, writes the measured sizes into SETUP.DAT and starts a SETUP.DAT for a folder of files.
// Results go to standard output, messages to standard error.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "checker.h"
#include "code_page.h"
#include "file_system.h"
#include "plan.h"
#include "setup_dat_writer.h"
#include "text_helpers.h"
#include "setup_script/text_rules.h"
#ifdef _WIN32
#include "setup_script/system_libraries.h"
#endif

#ifndef SETUP_VERSION
#define SETUP_VERSION "0.0.0"
#endif

namespace {

const char kUsage[] =
    "usage: setupcheck [--codepage N] [--json] [--sizes] [--cluster N] DISTRIBUTION-FOLDER\n"
    "       setupcheck [--codepage N] --plan [--json] [--destination DIR] [--without N]... "
    "[--cluster N] DISTRIBUTION-FOLDER\n"
    "       setupcheck [--codepage N] --plan --uninstall [--json] [--destination DIR] "
    "[--without N]... [--record FILE] DISTRIBUTION-FOLDER\n"
    "       setupcheck [--codepage N] --write-sizes [--cluster N] DISTRIBUTION-FOLDER\n"
    "       setupcheck [--codepage N] --init --app NAME --exe NAME FOLDER\n"
    "       setupcheck --help | --version\n";

const char kHelp[] =
    "\n"
    "Reads SETUP.DAT in DISTRIBUTION-FOLDER as setup.exe reads it (as an INF file, and key by key\n"
    "as an INI file) and looks up every file it names.\n"
    "\n"
    "  (no mode)        prints each finding as SETUP.DAT:LINE: error|warning: text\n"
    "  --sizes          adds the SizeN lines setup.exe would measure\n"
    "  --plan           prints every effect of an install with the default choices: folders,\n"
    "                   files, sizes.txt, INI entries, registry changes, links, RunOnce; what\n"
    "                   depends on the machine is marked as such\n"
    "  --destination DIR  the plan for a destination chosen on the destination page\n"
    "  --without N      the plan with optional group N's box cleared (repeatable)\n"
    "  --uninstall      the plan of removing the install with uninstall.exe: what its record\n"
    "                   lists (files, registry, INI entries, empty folders); the rest stays\n"
    "  --record FILE    the installed uninstall.ini, for --uninstall; without it, the record\n"
    "                   a first install with the choices leaves\n"
    "  --write-sizes    puts the measured SizeN lines into [KVSetup] of SETUP.DAT itself,\n"
    "                   keeping every other byte\n"
    "  --init           writes a first SETUP.DAT listing every file in FOLDER, for the\n"
    "                   application named by --app with the executable --exe (without .exe);\n"
    "                   an uninstall.exe there is shipped and registered to remove it;\n"
    "                   an existing SETUP.DAT is never replaced\n"
    "  --json           one JSON document instead of text (check and --plan)\n"
    "  --cluster N      cluster size in bytes for measured sizes (default 4096)\n"
    "  --codepage N     the ANSI code page of the system setup.exe runs on (default 1252):\n"
    "                   SETUP.DAT's bytes and names are read as there, double-byte characters\n"
    "                   of 932, 936, 949 and 950 as one; a UTF-8 or UTF-16 SETUP.DAT is\n"
    "                   converted into it, and a character it lacks is an error\n"
    "  --help, --version\n"
    "\n"
    "Results go to standard output, messages to standard error; names are printed in UTF-8.\n"
    "Exit status: 0 done and no error found; 1 errors found, or the command refused or failed;\n"
    "2 a wrong command line.\n";

const char kFileName[] = "SETUP.DAT";
const size_t kRecordLimit = 1024 * 1024; // a record is a few kilobytes

enum Mode { kCheck, kPlan, kWriteSizes, kInit };

// refusal, when given, says why there is no plan: the document then ends with "plan":null.
void PrintJson(const CheckResult& result, bool withSizes, const char* refusal = nullptr) {
  int errors = CountErrors(result);
  printf("{\"file\":\"%s\",\"errors\":%d,\"warnings\":%d,\"findings\":[", kFileName, errors,
         (int)result.findings.size() - errors);
  for (size_t i = 0; i < result.findings.size(); ++i) {
    const Finding& finding = result.findings[i];
    printf(i == 0 ? "\n" : ",\n");
    if (finding.line > 0) {
      printf("{\"line\":%d,", finding.line);
    } else {
      printf("{\"line\":null,");
    }
    printf("\"severity\":\"%s\",\"message\":", finding.severity == kError ? "error" : "warning");
    fputs(JsonString(finding.text).c_str(), stdout);
    printf("}");
  }
  printf("]");
  if (withSizes) {
    printf(",\"sizes\":[");
    for (size_t i = 0; i < result.sizes.size(); ++i) {
      char entry[80];
      FormatText(entry, sizeof entry, "{\"key\":\"Size%d\",\"bytes\":%d}", result.sizes[i].group,
                 (int)result.sizes[i].bytes);
      printf("%s%s", i == 0 ? "" : ",", entry);
    }
    printf("]");
  }
  if (refusal != nullptr) {
    printf(",\"plan\":null,\"reason\":%s", JsonString(refusal).c_str());
  }
  printf("}\n");
}

void PrintFindings(const CheckResult& result, FILE* out) {
  for (const Finding& finding : result.findings) {
    const char* severity = finding.severity == kError ? "error" : "warning";
    if (finding.line > 0) {
      fprintf(out, "%s:%d: %s: %s\n", kFileName, finding.line, severity,
              Shown(finding.text).c_str());
    } else {
      fprintf(out, "%s: %s: %s\n", kFileName, severity, Shown(finding.text).c_str());
    }
  }
}

void PrintText(const CheckResult& result, bool withSizes) {
  PrintFindings(result, stdout);
  if (withSizes) {
    // The figures setup.exe writes to sizes.txt, ready for the [KVSetup] section.
    for (const MeasuredSize& size : result.sizes) {
      char line[48];
      FormatText(line, sizeof line, "Size%d=%d", size.group, (int)size.bytes);
      printf("%s\n", line);
    }
  }
}

bool ParseNumber(const char* text, long low, long high, long* number) {
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) {
    return false;
  }
  *number = value;
  return true;
}

int Usage(const char* problem) {
  fprintf(stderr, "setupcheck: %s\n%s", problem, kUsage);
  return 2;
}

// Checks the folder; false (after saying why) when it is missing.
bool Check(const char* folder, long cluster, CheckResult* result) {
  CheckDistribution(folder, cluster, result);
  if (result->folderMissing) {
    fprintf(stderr, "setupcheck: %s: no such folder\n", folder);
    return false;
  }
  return true;
}

int RunPlan(const char* folder, const PlanChoices& choices, bool removal, bool json) {
  CheckResult result;
  if (!Check(folder, (long)choices.cluster, &result)) {
    return 1;
  }
  PrintFindings(result, stderr);
  int errors = CountErrors(result);
  if (errors > 0) {
    char reason[128];
    FormatText(reason, sizeof reason, "%s has %d error%s, and setup.exe would not install it",
               kFileName, errors, errors == 1 ? "" : "s");
    fprintf(stderr, "setupcheck: no plan: %s\n", reason);
    if (json) {
      PrintJson(result, false, reason);
    }
    return 1;
  }
  Plan plan;
  std::string problem;
  if (!(removal ? MakeRemovalPlan : MakePlan)(result, folder, choices, &plan, &problem)) {
    fprintf(stderr, "setupcheck: no plan: %s\n", Shown(problem).c_str());
    if (json) {
      PrintJson(result, false, problem.c_str());
    }
    return 1;
  }
  if (json) {
    PrintPlanJson(plan, stdout);
  } else {
    PrintPlanText(plan, stdout);
  }
  return 0;
}

int RunWriteSizes(const char* folder, long cluster) {
  CheckResult result;
  if (!Check(folder, cluster, &result)) {
    return 1;
  }
  // Errors about SizeN values are what the measured lines mend; any other stops the write.
  int errors = 0;
  for (const Finding& finding : result.findings) {
    errors += finding.severity == kError && finding.sizeKey == 0 ? 1 : 0;
  }
  if (errors > 0) {
    PrintFindings(result, stderr);
    fprintf(stderr, "setupcheck: %s is left as it is: it has %d error%s to mend first\n", kFileName,
            errors, errors == 1 ? "" : "s");
    return 1;
  }
  std::string path;
  int64_t size = 0;
  FindBelow(folder, kFileName, &size, &path);
  std::string bytes;
  if (ReadWholeFile(path, 64u * 1024u * 1024u, &bytes) != 1) {
    fprintf(stderr, "setupcheck: %s cannot be read\n", path.c_str());
    return 1;
  }
  std::vector<std::string> changes;
  std::string written = PutSizes(bytes, result, &changes);
  if (changes.empty()) {
    fprintf(stderr, "setupcheck: every SizeN in %s is up to date\n", kFileName);
    return 0;
  }
  if (!ReplaceWholeFile(path, written)) {
    fprintf(stderr, "setupcheck: %s cannot be written\n", path.c_str());
    return 1;
  }
  for (const std::string& change : changes) {
    printf("%s\n", Shown(change).c_str());
  }
  return 0;
}

int RunInit(const char* folder, const std::string& appName, std::string exeName) {
  size_t length = exeName.size();
  if (length > 4 && EqualIgnoringAsciiCase(exeName.c_str() + length - 4, ".exe")) {
    exeName.resize(length - 4);
  }
  for (const std::string* name : {&appName, (const std::string*)&exeName}) {
    std::string why = RefuseName(*name);
    if (!why.empty()) {
      fprintf(stderr, "setupcheck: the name \"%s\" %s\n", Shown(*name).c_str(), why.c_str());
      return 2;
    }
  }
  int64_t size = 0;
  std::string existing;
  if (ExamineFile(folder, &size) != kFolder) {
    fprintf(stderr, "setupcheck: %s: no such folder\n", folder);
    return 1;
  }
  if (FindBelow(folder, kFileName, &size, &existing) != kNoFile) {
    fprintf(stderr, "setupcheck: %s already exists and is left as it is\n", existing.c_str());
    return 1;
  }
  std::vector<std::string> all;
  std::vector<std::string> unnamed;
  if (!ListFiles(folder, &all, &unnamed)) {
    fprintf(stderr, "setupcheck: %s cannot be read\n", folder);
    return 1;
  }
  // Not the application's: the installer, and the sizes file it writes beside SETUP.DAT.
  std::vector<std::string> files;
  bool hasExe = false;
  for (const std::string& file : all) {
    if (EqualIgnoringAsciiCase(file.c_str(), "setup.exe") ||
        EqualIgnoringAsciiCase(file.c_str(), "sizes.txt")) {
      continue;
    }
    hasExe |= EqualIgnoringAsciiCase(file.c_str(), (exeName + ".exe").c_str()) != 0;
    files.push_back(file);
  }
  if (files.empty()) {
    fprintf(stderr, "setupcheck: %s holds no files to install\n", folder);
    return 1;
  }
  // The installed size, as the list of installed programs shows it: KiB of 4096-byte clusters.
  int64_t bytes = 0;
  bool uninstall = false;
  for (const std::string& file : files) {
    int64_t fileSize = 0;
    FindBelow(folder, file, &fileSize);
    bytes += (fileSize + kDefaultClusterSize - 1) / kDefaultClusterSize * kDefaultClusterSize;
    uninstall |= EqualIgnoringAsciiCase(file.c_str(), "uninstall.exe") != 0;
  }
  std::vector<std::string> left;
  std::string text = FirstSetupDat(appName, exeName, files, &left, (bytes + 1023) / 1024);
  for (const std::string& host : unnamed) {
    left.push_back(host + ": the name holds a character code page " +
                   std::to_string(SelectedCodePage()) + " does not have");
  }
  const std::string& path = existing; // where FindBelow looked for it
  int written = WriteNewFile(path, text);
  if (written != 1) {
    fprintf(stderr, "setupcheck: %s %s\n", path.c_str(),
            written < 0 ? "already exists and is left as it is" : "cannot be written");
    return 1;
  }
  size_t listed = files.size() + unnamed.size() - left.size() - (uninstall ? 1 : 0);
  printf("%s written: %d file%s in group 1\n", path.c_str(), (int)listed, listed == 1 ? "" : "s");
  if (uninstall) {
    printf("uninstall.exe and SETUP.DAT in group 2, registered as the Uninstall entry of %s\n",
           Shown(appName).c_str());
  }
  for (size_t i = 0; i < left.size(); ++i) {
    // The names left out for the code page are the file system's own spelling already.
    bool host = i + unnamed.size() >= left.size();
    fprintf(stderr, "setupcheck: left out %s\n", host ? left[i].c_str() : Shown(left[i]).c_str());
  }
  if (!hasExe) {
    fprintf(stderr, "setupcheck: %s has no %s.exe at its top: the links would point at nothing\n",
            folder, Shown(exeName).c_str());
  }
  // What the vendor starts from must check clean; say so at once where it does not.
  CheckResult result;
  CheckDistribution(folder, kDefaultClusterSize, &result);
  PrintFindings(result, stderr);
  return left.empty() && CountErrors(result) == 0 ? 0 : 1;
}

// Selects the code page and puts the names given on the command line, which are the terminal's,
// into it, as the installer sees them. Returns 0, or the exit status after saying why not.
int UseCodePage(long codePage, std::initializer_list<std::string*> names) {
  std::string problem;
  if (!SelectCodePage((unsigned int)codePage, &problem)) {
    return Usage(problem.c_str());
  }
  for (std::string* name : names) {
    std::string given = HostArgument(name->c_str());
    if (!CodePageName(given, name)) {
      fprintf(stderr, "setupcheck: code page %ld has no character for part of \"%s\"\n", codePage,
              given.c_str());
      return 2;
    }
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  RestrictLibrarySearch(); // vendors run it inside distribution folders of unknown origin
#endif
  Mode mode = kCheck;
  int modes = 0;
  bool sizes = false;
  bool json = false;
  bool removal = false;
  long cluster = kDefaultClusterSize;
  PlanChoices choices;
  std::string appName;
  std::string exeName;
  bool haveApp = false;
  bool haveExe = false;
  const char* folder = nullptr;
  const char* recordFile = nullptr;
  long codePage = kDefaultCodePage;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (strcmp(arg, "--help") == 0) {
      printf("%s%s", kUsage, kHelp);
      return 0;
    } else if (strcmp(arg, "--version") == 0) {
      printf("setupcheck %s\n", SETUP_VERSION);
      return 0;
    } else if (strcmp(arg, "--sizes") == 0) {
      sizes = true;
    } else if (strcmp(arg, "--json") == 0) {
      json = true;
    } else if (strcmp(arg, "--plan") == 0) {
      mode = kPlan;
      ++modes;
    } else if (strcmp(arg, "--uninstall") == 0) {
      removal = true;
    } else if (strcmp(arg, "--write-sizes") == 0) {
      mode = kWriteSizes;
      ++modes;
    } else if (strcmp(arg, "--init") == 0) {
      mode = kInit;
      ++modes;
    } else if (strcmp(arg, "--cluster") == 0 && hasValue) {
      if (!ParseNumber(argv[++i], 1, 64L * 1024 * 1024, &cluster)) {
        fprintf(stderr, "setupcheck: --cluster needs a size in bytes from 1 to 67108864\n");
        return 2;
      }
    } else if (strcmp(arg, "--codepage") == 0 && hasValue) {
      if (!ParseNumber(argv[++i], 1, 65535, &codePage)) {
        return Usage("--codepage needs a code page number, such as 1252 or 932");
      }
    } else if (strcmp(arg, "--destination") == 0 && hasValue) {
      choices.destination = argv[++i];
    } else if (strcmp(arg, "--record") == 0 && hasValue) {
      recordFile = argv[++i];
    } else if (strcmp(arg, "--without") == 0 && hasValue) {
      long group = 0;
      if (!ParseNumber(argv[++i], 1, 128, &group)) {
        return Usage("--without needs a group number from 1 to 128");
      }
      choices.without.push_back((int)group);
    } else if (strcmp(arg, "--app") == 0 && hasValue) {
      appName = argv[++i];
      haveApp = true;
    } else if (strcmp(arg, "--exe") == 0 && hasValue) {
      exeName = argv[++i];
      haveExe = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return Usage((std::string("unknown option ") + arg).c_str());
    } else if (folder == nullptr) {
      folder = arg;
    } else {
      return Usage("one folder only");
    }
  }
  if (modes > 1) {
    return Usage("--plan, --write-sizes and --init are separate commands");
  }
  if (folder == nullptr) {
    return Usage("no folder given");
  }
  int refused = UseCodePage(codePage, {&choices.destination, &appName, &exeName});
  if (refused != 0) {
    return refused;
  }
  std::string hostFolder = HostArgument(folder);
  folder = hostFolder.c_str();
  bool planOptions =
      !choices.destination.empty() || !choices.without.empty() || removal || recordFile;
  if ((planOptions && mode != kPlan) || ((haveApp || haveExe) && mode != kInit) ||
      (sizes && mode != kCheck) || (json && mode != kCheck && mode != kPlan)) {
    return Usage("an option that does not belong to this command");
  }
  switch (mode) {
  case kPlan:
    choices.cluster = cluster;
    if (recordFile != nullptr && !removal) {
      return Usage("--record belongs to --plan --uninstall");
    }
    if (recordFile != nullptr &&
        ReadWholeFile(HostArgument(recordFile), kRecordLimit, &choices.record) != 1) {
      fprintf(stderr, "setupcheck: %s: cannot be read as a record\n", recordFile);
      return 1;
    }
    choices.haveRecord = recordFile != nullptr;
    return RunPlan(folder, choices, removal, json);
  case kWriteSizes:
    return RunWriteSizes(folder, cluster);
  case kInit:
    if (!haveApp || !haveExe) {
      return Usage("--init needs --app NAME and --exe NAME");
    }
    return RunInit(folder, appName, exeName);
  case kCheck:
    break;
  }
  CheckResult result;
  if (!Check(folder, cluster, &result)) {
    return 1;
  }
  if (json) {
    PrintJson(result, sizes);
  } else {
    PrintText(result, sizes);
  }
  return CountErrors(result) > 0 ? 1 : 0;
}
