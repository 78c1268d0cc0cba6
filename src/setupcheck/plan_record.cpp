// The install record, uninstall.ini: what an install writes into it (as a first install finds the
// machine), and its text read back as the profile functions read it.
#include <algorithm>

#include "plan_internal.h"
#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace plan_detail {

namespace {

const char kRecordName[] = "uninstall.ini";
const size_t kProfileKeyLimit = 255;

// Where a target's name begins in a path joined to the destination: after the "\" the join adds,
// unless the destination ends with one (a trail byte 0x5C is no separator).
size_t NameStart(const std::string& destination) {
  const char* last = FindLastSeparator(destination.c_str());
  bool endsWithSeparator = last != nullptr && last[1] == '\0';
  return destination.size() + (endsWithSeparator ? 0 : 1);
}

bool IsBlankChar(char c) {
  return c == ' ' || c == '\t';
}

} // namespace

const std::vector<std::string>* Record::Keys(const char* section) const {
  for (const auto& [name, keys] : sections) {
    if (EqualIgnoringAsciiCase(name.c_str(), section)) {
      return &keys;
    }
  }
  return nullptr;
}

bool Record::Has(const char* section, const std::string& key) const {
  const std::vector<std::string>* keys = Keys(section);
  return keys != nullptr && std::any_of(keys->begin(), keys->end(), [&](const std::string& k) {
           return EqualIgnoringAsciiCase(k.c_str(), key.c_str());
         });
}

void Record::Add(const std::string& section, const std::string& key) {
  if (Keys(section.c_str()) == nullptr) {
    sections.push_back({section, {}});
  }
  if (!Has(section.c_str(), key)) {
    for (auto& [name, keys] : sections) {
      if (EqualIgnoringAsciiCase(name.c_str(), section.c_str())) {
        keys.push_back(key);
      }
    }
  }
}

void ParseRecord(const std::string& text, Record* record) {
  std::string section;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    std::string line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') {
      continue;
    }
    if (line[0] == '[') {
      size_t close = line.find(']');
      section = Trimmed(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (line.find('=') != std::string::npos && !section.empty()) {
      std::string key = Trimmed(line.substr(0, line.find('=')));
      std::string value = Trimmed(line.substr(line.find('=') + 1));
      bool installation = EqualIgnoringAsciiCase(section.c_str(), "Installation");
      if (installation && EqualIgnoringAsciiCase(key.c_str(), "Application") &&
          !record->Has("Installation", key)) {
        record->application = value;
      } else if (installation && EqualIgnoringAsciiCase(key.c_str(), "Folder") &&
                 !record->Has("Installation", key)) {
        record->folder = value;
      }
      record->Add(section, key);
    }
  }
}

bool Recordable(const std::string& key) {
  return !key.empty() && key.size() <= kProfileKeyLimit && key.find('=') == std::string::npos &&
         key[0] != '[' && key[0] != ';' && !IsBlankChar(key[0]) && !IsBlankChar(key.back());
}

std::string Planner::Relative(const std::string& path) const {
  std::string name = path.substr(std::min(NameStart(plan_->destination), path.size()));
  for (size_t i = 0; i < name.size(); i += CharacterSize(name.c_str() + i)) {
    name[i] = name[i] == '/' ? '\\' : name[i];
  }
  return name;
}

std::string Planner::InFolder(const std::string& name) const {
  return plan_->destination.substr(0, NameStart(plan_->destination) - 1) + "\\" + name;
}

// A selected group installs uninstall.exe inside the destination.
bool Planner::RecordWanted() const {
  for (const PlanStep& step : plan_->steps) {
    std::string name = Relative(step.path);
    const char* last = FindLastSeparator(name.c_str());
    if (step.kind == kStepFile && !NamesPlaceOutside(name.c_str()) &&
        EqualIgnoringAsciiCase(last == nullptr ? name.c_str() : last + 1, "uninstall.exe")) {
      return true;
    }
  }
  return false;
}

PlanStep& Planner::AddRecord(const char* section, const std::string& key, const char* only) {
  PlanStep& step = Add(kStepRecord, InFolder(kRecordName), 0);
  step.section = section;
  step.name = key;
  step.text = "1";
  step.only = only != nullptr ? only : "";
  return step;
}

// Written after the copy: the installation, the groups, the files and folders it made.
void Planner::PlanRecordCopy() {
  if (!RecordWanted()) {
    return;
  }
  std::string folder = plan_->destination;
  if (folder.size() > 3 && EndsWithChar(folder, '\\')) {
    RemoveTrailingSeparator(&folder[0]);
    folder.resize(TextLength(folder.c_str()));
  }
  AddRecord("Installation", "Application", nullptr).text = plan_->appName;
  AddRecord("Installation", "Folder", nullptr).text = folder;
  for (const PlanGroup& group : plan_->groups) {
    if (group.selected) {
      AddRecord("Groups", group.section, nullptr);
    }
  }
  std::vector<PlanStep> made(plan_->steps);
  Record seen;
  for (const PlanStep& step : made) {
    bool isFolder = step.kind == kStepFolder;
    if (!isFolder && step.kind != kStepFile) {
      continue;
    }
    std::string name = step.path.size() < NameStart(folder) ? "." : Relative(step.path);
    const char* section = isFolder ? "Folders" : "Files";
    if ((name != "." && NamesPlaceOutside(name.c_str())) || !Recordable(name) ||
        seen.Has(section, name)) {
      continue;
    }
    seen.Add(section, name);
    PlanStep& record = AddRecord(section, name,
                                 isFolder ? "only where the folder was not there"
                                          : "only where no file was there before its copy");
    record.machine = step.machine;
  }
}

void Planner::ForEachAddRegIdentity(
    const std::function<void(const InfLine&, const RegistryLine&, int, const std::string&)>& f) {
  for (const InfSection* section : NamedSections("AddReg")) {
    for (const InfLine& line : section->lines) {
      RegistryLine reg;
      // A line that deletes or only changes what is there makes nothing of its own.
      if (!ReadRegistryLine(line, false, &reg) ||
          (reg.flags & (kDeleteValue | kOverwriteOnly | kKeyView64 | kKeyView32))) {
        continue;
      }
      // The first level below the root (Software and the like) is on every machine.
      std::string written;
      Field(line, 1, &written); // the root as the line spells it
      std::vector<std::string> keys;
      for (std::string key = written + reg.key.substr(reg.root.size());
           CountSeparators(key.c_str()) >= 2;
           key.resize(FindLastSeparator(key.c_str()) - key.c_str())) {
        keys.insert(keys.begin(), key);
      }
      for (const std::string& key : keys) {
        f(line, reg, 0, key);
      }
      if (reg.flags & (kKeyOnly | kKeyOnlyCommon)) {
        continue;
      }
      std::string value = written + reg.key.substr(reg.root.size()) + "\\\\" + reg.name;
      std::string data;
      if (((uint32_t)reg.flags & kTypeMask) == kTypeMultiSz && (reg.flags & kAppend)) {
        RegistryLine copy = reg;
        RegistryValueData(line, kRegMultiSz, copy, &data);
        for (size_t at = 0; at < data.size() && data[at] != '\0'; at = data.find('\0', at) + 1) {
          f(line, reg, 2, value + "\\\\" + data.substr(at, data.find('\0', at) - at));
        }
      } else {
        f(line, reg, 1, value);
      }
    }
  }
}

// An UpdateInis line's entry as the record names it: the file, section and key as the line
// gives them, "|" between.
bool Planner::IniIdentity(const InfLine& line, std::string* identity) const {
  std::string file, section, entry;
  if (!Field(line, 1, &file) || !Field(line, 2, &section) || !Field(line, 4, &entry)) {
    return false;
  }
  *identity = file + "|" + section + "|" + entry.substr(0, entry.find('='));
  return true;
}

// Written after default_install: the keys, values, list strings and INI entries it made.
void Planner::PlanRecordInstallSection() {
  if (!RecordWanted()) {
    return;
  }
  static const char* const kWhere[] = {"only where the key was not there",
                                       "only where the value was not there",
                                       "only where the list did not hold the string"};
  Record seen;
  ForEachAddRegIdentity(
      [&](const InfLine& line, const RegistryLine& reg, int kind, const std::string& identity) {
        if (Recordable(identity) && !seen.Has("Registry", identity)) {
          seen.Add("Registry", identity);
          PlanStep& step = AddRecord("Registry", identity, kWhere[kind]);
          step.line = line.lineNumber;
          step.machine = reg.machine;
        }
      });
  for (const InfSection* section : NamedSections("UpdateInis")) {
    for (const InfLine& line : section->lines) {
      std::string identity;
      if (IniIdentity(line, &identity) && Recordable(identity) && !seen.Has("Ini", identity)) {
        seen.Add("Ini", identity);
        PlanStep& step = AddRecord("Ini", identity, "only where the entry was not there");
        step.line = line.lineNumber;
        step.machine = HasDirectoryId(identity) ? kDirectoryId : "";
      }
    }
  }
}

} // namespace plan_detail
