// A removal's plan: what uninstall.exe, lying in the installed folder, takes away and in which
// order: the links, every group's files, default_install's registry values and INI entries,
// SETUP.DAT and itself, the folders left empty, then default_uninstall.
#include <algorithm>
#include <map>

#include "plan_internal.h"
#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace plan_detail {

namespace {

const size_t kPathBuffer = 260; // uninstall.exe's paths
const char kUninstallKey[] = "software\\microsoft\\windows\\currentversion\\uninstall\\";
const char kKeptForSecondRun[] = "kept while a file stays, so that the removal can run again";

// Where a target's name begins in a path joined to the destination: after the "\" the join adds,
// unless the destination ends with one (a trail byte 0x5C is no separator).
size_t NameStart(const std::string& destination) {
  const char* last = FindLastSeparator(destination.c_str());
  bool endsWithSeparator = last != nullptr && last[1] == '\0';
  return destination.size() + (endsWithSeparator ? 0 : 1);
}

} // namespace

// Every group's files and their replacements, as the plan of an install with every group chosen
// names them; SETUP.DAT and uninstall.exe come later.
void Planner::PlanFileRemoval(const std::vector<PlanStep>& installed) {
  const std::string& destination = plan_->destination;
  size_t skip = NameStart(destination);
  std::set<std::string> seen = {LowerAscii(destination + "\\SETUP.DAT"),
                                LowerAscii(destination + "\\uninstall.exe")};
  for (const PlanStep& file : installed) {
    if (file.kind != kStepFile || !seen.insert(LowerAscii(file.path)).second) {
      continue;
    }
    if (NamesPlaceOutside(file.path.substr(std::min(skip, file.path.size())).c_str())) {
      plan_->machine.push_back("left: " + file.path + " lies outside the installed folder");
      continue;
    }
    PlanStep& step = Add(kStepRemoveFile, file.path, file.line);
    step.group = file.group;
    step.machine = file.machine;
    char replacement[kPathBuffer];
    if (ReplacementName(replacement, sizeof replacement, file.path.c_str())) {
      step.only = std::string("and ") + replacement + ", a copy an install cut short left";
    }
  }
}

// Each AddReg line's value, then its key and the parents of that key where empty, each at the
// last line that looks at it: by then every value the removal takes from it is gone.
void Planner::PlanRegistryRemoval() {
  struct Removal {
    const InfLine* line;
    RegistryLine reg;
    std::vector<std::string> keys; // deepest first
  };
  std::vector<Removal> removals;
  std::map<std::string, size_t> lastLook;
  for (const InfSection* section : NamedSections("AddReg")) {
    for (const InfLine& line : section->lines) {
      Removal removal{&line, RegistryLine(), {}};
      if (!ReadRegistryLine(line, false, &removal.reg)) {
        continue;
      }
      if (removal.reg.flags & (kDeleteValue | kOverwriteOnly | kKeyView64 | kKeyView32)) {
        plan_->machine.push_back(
            "left: SETUP.DAT line " + Number(line.lineNumber) +
            " deletes, changes only a value that was there, or names another registry view");
        continue;
      }
      // The first level below the root (Software and the like) is never removed.
      for (std::string key = removal.reg.key; CountSeparators(key.c_str()) >= 2;
           key.resize(FindLastSeparator(key.c_str()) - key.c_str())) {
        removal.keys.push_back(key);
        lastLook[LowerAscii(key)] = removals.size();
      }
      removals.push_back(removal);
    }
  }
  for (size_t i = 0; i < removals.size(); ++i) {
    const Removal& removal = removals[i];
    std::string only;
    if (LowerAscii(removal.reg.subkey).compare(0, sizeof kUninstallKey - 1, kUninstallKey) == 0) {
      only = kKeptForSecondRun;
    }
    if (!(removal.reg.flags & (kKeyOnly | kKeyOnlyCommon))) {
      PlanStep& step = AddRegistryStep(kStepDeleteValue, *removal.line, removal.reg);
      step.name = removal.reg.name;
      step.only = only;
      if (((uint32_t)removal.reg.flags & kTypeMask) == kTypeMultiSz &&
          (removal.reg.flags & kAppend)) {
        step.only = "only the line's own strings are taken out of the list; the value goes "
                    "where nothing else is left in it";
      }
    }
    for (const std::string& key : removal.keys) {
      if (lastLook[LowerAscii(key)] == i) {
        PlanStep& step = Add(kStepRemoveKey, key, removal.line->lineNumber);
        step.machine = removal.reg.machine;
        step.only = only;
      }
    }
  }
}

// Each UpdateInis entry; its section goes where left empty, and the file where nothing is left.
void Planner::PlanIniRemoval() {
  for (const InfSection* section : NamedSections("UpdateInis")) {
    for (const InfLine& line : section->lines) {
      std::string file;
      std::string iniSection;
      std::string entry;
      if (!Field(line, 1, &file) || !Field(line, 2, &iniSection) || !Field(line, 4, &entry)) {
        continue;
      }
      std::string key = Trimmed(entry.substr(0, entry.find('=')));
      iniSection = Trimmed(iniSection);
      if (key.empty() || iniSection.empty()) {
        continue;
      }
      PlanStep& step = Add(kStepRemoveIni, file, line.lineNumber);
      step.section = iniSection;
      step.name = key;
      step.base = file.find_first_of("\\/") == std::string::npos ? kBaseWindows : kBaseNone;
      step.only = "with its section and file where they are left empty";
      if (HasDirectoryId(file + iniSection + key)) {
        step.machine = kDirectoryId;
      }
    }
  }
}

// The folders the install made below the destination, deepest first, then the destination.
void Planner::PlanFolderRemoval(const std::vector<PlanStep>& installed) {
  const std::string& destination = plan_->destination;
  std::vector<std::string> folders;
  for (const PlanStep& folder : installed) {
    std::string name = folder.path.substr(std::min(NameStart(destination), folder.path.size()));
    if (folder.kind == kStepFolder && folder.path.size() > NameStart(destination) &&
        !NamesPlaceOutside(name.c_str())) {
      folders.push_back(folder.path);
    }
  }
  std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return CountSeparators(a.c_str()) > CountSeparators(b.c_str());
  });
  if (destination.size() > 3) {
    folders.push_back(destination);
  }
  for (const std::string& folder : folders) {
    Add(kStepRemoveFolder, folder, 0);
  }
}

void Planner::NoteRemovalMachine() {
  std::vector<std::string>& notes = plan_->machine;
  notes.push_back("the installed folder is the one uninstall.exe lies in; where the install went "
                  "elsewhere (an earlier installation's App Paths \"Path\", another folder chosen "
                  "on the destination page), --destination names it");
  notes.push_back("a file that cannot be removed (held open) stays and is named in the closing "
                  "message; SETUP.DAT, uninstall.exe, the Uninstall entry's values and the "
                  "folders holding them then stay too, and a second run removes them");
  notes.push_back("nothing is put back: a file, registry value or INI entry that was there before "
                  "the install and that it replaced or changed is removed, and a key that was "
                  "there empty goes; what default_install deleted and the compatibility entry "
                  "setup.exe deleted stay deleted");
  notes.push_back("sizes.txt beside the distribution's SETUP.DAT stays, and so do the RunOnce "
                  "values, which the shell's runonce removes when it runs them");
  notes.push_back("uninstall.exe runs from a copy in the temporary folder, deleted as it ends");
}

bool Planner::RunRemoval(std::string* problem) {
  plan_->appName = checked_.appName;
  plan_->removal = true;
  if (!ChooseDestination(problem) || !ChooseGroups(problem) || !PlanCopy(problem)) {
    return false;
  }
  plan_->destinationFrom =
      "the folder uninstall.exe lies in, where the install put it: " + plan_->destinationFrom;
  plan_->machine.clear();
  PlanFinishing();
  std::vector<PlanStep> installed;
  installed.swap(plan_->steps);
  for (const PlanStep& link : installed) {
    if (link.kind == kStepLink) {
      PlanStep& step = Add(kStepRemoveFile, link.path, 0);
      step.base = link.base;
      step.only = "where it points at " + link.text;
    }
  }
  PlanFileRemoval(installed);
  PlanRegistryRemoval();
  PlanIniRemoval();
  for (const char* name : {"SETUP.DAT", "uninstall.exe"}) {
    Add(kStepRemoveFile, plan_->destination + "\\" + name, 0).only = kKeptForSecondRun;
  }
  PlanFolderRemoval(installed);
  installSection_ = "default_uninstall";
  PlanInstallSection();
  NoteRemovalMachine();
  return true;
}

} // namespace plan_detail

bool MakeRemovalPlan(const CheckResult& checked, const std::string& folder,
                     const PlanChoices& choices, Plan* plan, std::string* problem) {
  *plan = Plan();
  problem->clear();
  PlanChoices everyGroup = choices;
  everyGroup.without.clear();
  plan_detail::Planner planner(checked, folder, everyGroup, plan);
  return planner.RunRemoval(problem);
}
