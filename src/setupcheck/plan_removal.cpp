// A removal's plan: what uninstall.exe, lying in the installed folder, takes away as its install
// record lists it, and in which order: the links, the recorded files, registry values and keys
// and INI entries, default_uninstall, SETUP.DAT, itself and the record, the folders left empty.
#include <algorithm>
#include <map>

#include "plan_internal.h"
#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace plan_detail {

namespace {

const size_t kPathBuffer = 260; // uninstall.exe's paths

// Where the "\\" after a key or a value name begins, walked by character: a trail byte 0x5C is
// no separator.
size_t FindPairedSeparator(const std::string& text) {
  for (size_t i = 0; i < text.size(); i += CharacterSize(text.c_str() + i)) {
    if (text.compare(i, 2, "\\\\") == 0) {
      return i;
    }
  }
  return std::string::npos;
}

const char kOutside[] = "outside the folder";
const char kNotMade[] = "not made by an install";
const char kNotRecordable[] = "a name the record cannot hold";
const char kKeptForSecondRun[] =
    "kept while anything else stays, so that the removal can run again";

} // namespace

PlanStep& Planner::AddStay(const std::string& path, int line, const char* why) {
  PlanStep& step = Add(kStepStay, path, line);
  step.only = why;
  return step;
}

// The recorded files and their replacements, then what stays of every group's files; SETUP.DAT
// and uninstall.exe come later.
void Planner::PlanFileRemoval(const Record& record, const std::vector<PlanStep>& installed) {
  std::set<std::string> last = {"setup.dat", "uninstall.exe"};
  if (const std::vector<std::string>* files = record.Keys("Files")) {
    for (const std::string& name : *files) {
      std::string path = InFolder(name);
      // The line and group of the install that names it, where one does.
      const PlanStep* copy = nullptr;
      for (const PlanStep& file : installed) {
        if (copy == nullptr && file.kind == kStepFile &&
            EqualIgnoringAsciiCase(Relative(file.path).c_str(), name.c_str())) {
          copy = &file;
        }
      }
      if (NamesPlaceOutside(name.c_str()) || last.count(LowerAscii(name)) != 0) {
        if (last.count(LowerAscii(name)) == 0) {
          AddStay(path, copy ? copy->line : 0, kOutside).group = copy ? copy->group : 0;
        }
        continue;
      }
      PlanStep& step = Add(kStepRemoveFile, path, copy ? copy->line : 0);
      step.group = copy ? copy->group : 0;
      char replacement[kPathBuffer];
      if (ReplacementName(replacement, sizeof replacement, path.c_str())) {
        step.only = std::string("and ") + replacement + ", a copy an install cut short left";
      }
    }
  }
  std::set<std::string> seen;
  for (const PlanStep& file : installed) {
    std::string name = Relative(file.path);
    if (file.kind != kStepFile || record.Has("Files", name) ||
        !seen.insert(LowerAscii(name)).second) {
      continue;
    }
    AddStay(file.path, file.line,
            NamesPlaceOutside(name.c_str()) ? kOutside
            : Recordable(name)              ? kNotMade
                                            : kNotRecordable)
        .group = file.group;
  }
}

// The recorded values and list strings, then the recorded keys where empty, deepest first; what
// default_install writes beyond them stays.
void Planner::PlanRegistryRemoval(const Record& record) {
  std::vector<std::string> keys;
  if (const std::vector<std::string>* entries = record.Keys("Registry")) {
    for (const std::string& entry : *entries) {
      size_t split = FindPairedSeparator(entry);
      if (split == std::string::npos) {
        keys.push_back(entry);
        continue;
      }
      std::string name = entry.substr(split + 2);
      size_t string = FindPairedSeparator(name);
      PlanStep& step = Add(kStepDeleteValue, entry.substr(0, split), 0);
      step.name = name.substr(0, string);
      if (string != std::string::npos) {
        step.text = name.substr(string + 2);
        step.only =
            "only this string is taken out of the list; the value goes where no string is left";
      }
    }
  }
  std::stable_sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
    return CountSeparators(a.c_str()) > CountSeparators(b.c_str());
  });
  for (const std::string& key : keys) {
    Add(kStepRemoveKey, key, 0);
  }
  std::set<std::string> seen;
  ForEachAddRegIdentity([&](const InfLine& line, const RegistryLine& reg, int kind,
                            const std::string& identity) {
    if (kind != 0 && !record.Has("Registry", identity) &&
        seen.insert(LowerAscii(identity)).second) {
      AddStay(identity, line.lineNumber, Recordable(identity) ? kNotMade : kNotRecordable).machine =
          reg.machine;
    }
  });
}

// The recorded INI entries, each with its section and file where left empty; the other
// UpdateInis entries stay.
void Planner::PlanIniRemoval(const Record& record) {
  if (const std::vector<std::string>* entries = record.Keys("Ini")) {
    for (const std::string& entry : *entries) {
      size_t first = entry.find('|');
      size_t second = entry.find('|', first + 1);
      if (second == std::string::npos) {
        continue;
      }
      std::string file = entry.substr(0, first);
      PlanStep& step = Add(kStepRemoveIni, file, 0);
      step.section = entry.substr(first + 1, second - first - 1);
      step.name = entry.substr(second + 1);
      step.base = FindChar(file, "\\/") == std::string::npos ? kBaseWindows : kBaseNone;
      step.only = "with its section and file where they are left empty";
      if (HasDirectoryId(entry)) {
        step.machine = kDirectoryId;
      }
    }
  }
  for (const InfSection* section : NamedSections("UpdateInis")) {
    for (const InfLine& line : section->lines) {
      std::string identity;
      if (IniIdentity(line, &identity) && !record.Has("Ini", identity)) {
        AddStay(identity, line.lineNumber, Recordable(identity) ? kNotMade : kNotRecordable);
      }
    }
  }
}

// The recorded folders where empty, deepest first, then the destination where the record says
// an install made it.
void Planner::PlanFolderRemoval(const Record& record, const std::vector<PlanStep>& installed) {
  const std::string& destination = plan_->destination;
  std::vector<std::string> folders;
  if (const std::vector<std::string>* names = record.Keys("Folders")) {
    for (const std::string& name : *names) {
      if (name == ".") {
        continue;
      }
      if (NamesPlaceOutside(name.c_str())) {
        AddStay(InFolder(name), 0, kOutside);
      } else {
        folders.push_back(InFolder(name));
      }
    }
  }
  for (const PlanStep& folder : installed) {
    std::string name = folder.path.size() < destination.size() + 1 ? "." : Relative(folder.path);
    if (folder.kind == kStepFolder && !record.Has("Folders", name) &&
        !(name != "." && NamesPlaceOutside(name.c_str()))) {
      AddStay(folder.path, 0, kNotMade);
    }
  }
  std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return CountSeparators(a.c_str()) > CountSeparators(b.c_str());
  });
  if (record.Has("Folders", ".")) {
    folders.push_back(destination);
  }
  for (const std::string& folder : folders) {
    Add(kStepRemoveFolder, folder, 0);
  }
}

void Planner::NoteRemovalMachine() {
  std::vector<std::string>& notes = plan_->machine;
  notes.push_back("the installed folder is the one uninstall.exe lies in, and the record there "
                  "must name it and this application; where the install went elsewhere, "
                  "--destination names it");
  notes.push_back("only what the record lists is removed: a file, folder, value, key or INI "
                  "entry that was there before the first install into this folder stays, with "
                  "what an install wrote into it");
  notes.push_back("a file that cannot be removed (held open) stays and is named in the closing "
                  "message; SETUP.DAT, uninstall.exe, uninstall.ini and the Uninstall entry's "
                  "values then stay too, and a second run removes them");
  notes.push_back("what default_install deleted and the compatibility entry setup.exe deleted "
                  "stay deleted");
  notes.push_back("sizes.txt beside the distribution's SETUP.DAT stays, and so do the RunOnce "
                  "values, which the shell's runonce removes when it runs them");
  notes.push_back("uninstall.exe runs from a copy in the temporary folder, deleted as it ends");
}

// The record a first install with the choices leaves, on a machine where none of it was there.
bool Planner::RecordOfFirstInstall(Record* record, std::string* problem) {
  if (!PlanCopy(problem)) {
    return false;
  }
  PlanRecordCopy();
  PlanInstallSection();
  PlanRecordInstallSection();
  for (const PlanStep& step : plan_->steps) {
    if (step.kind == kStepRecord) {
      record->Add(step.section, step.name);
      if (step.section == "Installation") {
        (step.name == "Folder" ? record->folder : record->application) = step.text;
      }
    }
  }
  plan_->steps.clear();
  createdFolders_.clear();
  createdKeys_.clear();
  copiesFiles_ = false;
  return true;
}

bool Planner::RunRemoval(std::string* problem) {
  plan_->appName = checked_.appName;
  plan_->removal = true;
  Record record;
  if (choices_.haveRecord) {
    ParseRecord(choices_.record, &record);
  }
  std::string folder = record.folder;
  RemoveTrailingSeparator(&folder[0]);
  std::string chosenFolder = choices_.destination;
  RemoveTrailingSeparator(&chosenFolder[0]);
  bool fromRecord =
      choices_.haveRecord && EqualIgnoringAsciiCase(chosenFolder.c_str(), folder.c_str()) != 0;
  if (!ChooseDestination(problem) || !ChooseGroups(problem) ||
      (!choices_.haveRecord && !RecordOfFirstInstall(&record, problem))) {
    return false;
  }
  plan_->destinationFrom =
      "the folder uninstall.exe lies in, where the install put it: " +
      (fromRecord ? std::string("[Installation] Folder of the record") : plan_->destinationFrom);
  plan_->machine.clear();
  if (!choices_.haveRecord) {
    plan_->destinationFrom += "; after a first install";
    plan_->machine.push_back(
        "after a first install: the record is the one a first install of the chosen groups "
        "leaves where none of it was there before; --record names the installed uninstall.ini");
  }
  // Every group's files, to say which stay.
  std::vector<bool> chosen;
  for (PlanGroup& group : plan_->groups) {
    chosen.push_back(group.selected);
    group.selected = true;
    group.files = 0;
  }
  if (!PlanCopy(problem)) {
    return false;
  }
  for (PlanGroup& group : plan_->groups) {
    group.selected = choices_.haveRecord ? record.Has("Groups", group.section)
                                         : chosen[&group - &plan_->groups[0]];
  }
  std::string destination = plan_->destination;
  folder = record.folder;
  RemoveTrailingSeparator(&destination[0]);
  RemoveTrailingSeparator(&folder[0]);
  if (record.application != plan_->appName ||
      !EqualIgnoringAsciiCase(folder.c_str(), destination.c_str())) {
    plan_->steps.clear();
    plan_->machine.push_back("no record names this application in this folder: uninstall.exe "
                             "says \"There is no installation of " +
                             plan_->appName + " in " + plan_->destination +
                             ".\" and changes nothing");
    return true;
  }
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
  PlanFileRemoval(record, installed);
  PlanRegistryRemoval(record);
  PlanIniRemoval(record);
  installSection_ = "default_uninstall";
  PlanInstallSection();
  for (const char* name : {"SETUP.DAT", "uninstall.exe"}) {
    if (record.Has("Files", name)) {
      Add(kStepRemoveFile, InFolder(name), 0).only = kKeptForSecondRun;
    }
  }
  Add(kStepRemoveFile, InFolder("uninstall.ini"), 0).only = kKeptForSecondRun;
  PlanFolderRemoval(record, installed);
  NoteRemovalMachine();
  return true;
}

} // namespace plan_detail

bool MakeRemovalPlan(const CheckResult& checked, const std::string& folder,
                     const PlanChoices& choices, Plan* plan, std::string* problem) {
  *plan = Plan();
  problem->clear();
  PlanChoices chosen = choices;
  if (choices.haveRecord && choices.destination.empty()) {
    plan_detail::Record record;
    plan_detail::ParseRecord(choices.record, &record);
    chosen.destination = record.folder;
    if (chosen.destination.size() > 3) {
      RemoveTrailingSeparator(&chosen.destination[0]);
      chosen.destination.resize(TextLength(chosen.destination.c_str()));
    }
  }
  plan_detail::Planner planner(checked, folder, chosen, plan);
  return planner.RunRemoval(problem);
}
