// setupcheck --plan against the real setup.exe. Each distribution is installed under Wine with
// the plan's choices, made on the pages from outside; the prefix's files, registry and INI files
// are taken before and after the run, and their difference must be the one the plan predicts,
// line for line, apart from what it marks as machine-dependent. The distributions: the example,
// the checker's cases that install, and generated ones (seeded). KVS_PLAN_DISTRIBUTIONS=N runs N
// generated ones instead of the few the suite runs.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "checker.h"
#include "code_page.h"
#include "plan.h"
#include "probe/runonce_probe.h"
#include "robot/process_robot.h"
#include "robot/ui_robot.h"
#include "setup_script/text_rules.h"
#include "support/test_support.h"
#include "ui/resources/resource.h"

namespace {

const DWORD kRunTimeoutMs = 180000;
const char kLayers[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
const REGSAM kView = KEY_WOW64_32KEY; // the registry as the 32-bit setup.exe sees it
const char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
// Written by Wine itself while programs run (its own settings, and the locale's where a program
// starts under another one), never by an install.
const char* const kPlatformNoise[] = {
    "hkcu\\software\\wine", "hkcu\\control panel\\international",
    "hklm\\system\\currentcontrolset\\control\\nls\\codepage",
    "hklm\\system\\currentcontrolset\\control\\timezoneinformation"};

// Paths are walked by character of the process's ANSI code page: in a double-byte one a trail
// byte may be 0x5C or an ASCII letter.
size_t CharSize(const std::string& text, size_t i) {
  return IsDBCSLeadByte((BYTE)text[i]) && i + 1 < text.size() ? 2 : 1;
}

std::string Lower(std::string text) {
  for (size_t i = 0; i < text.size(); i += CharSize(text, i)) {
    text[i] = (text[i] >= 'A' && text[i] <= 'Z') ? (char)(text[i] - 'A' + 'a') : text[i];
  }
  return text;
}

size_t LastSeparator(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); i += CharSize(path, i)) {
    last = path[i] == '\\' ? i : last;
  }
  return last;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// A path as Windows resolves it: "." and ".." applied, "/" read as "\".
std::string FullPath(const std::string& path) {
  char full[1024];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, NULL);
  return length > 0 && length < sizeof full ? std::string(full) : path;
}

std::string Parent(const std::string& path) {
  size_t split = LastSeparator(path);
  return split == std::string::npos ? "" : path.substr(0, split);
}

// ---- The machine: files, registry, and the entries of the INI files and links of interest ----

struct FileState {
  std::string path;
  bool folder = false;
  ULONGLONG size = 0;
  FILETIME written = {};
  std::map<std::string, std::string> entries; // INI files: "[section] key" -> "[Section] key=value"
  std::string link;                           // links: what the link points at
};

struct ValueState {
  std::string name;
  DWORD type = 0;
  std::string data;
};

struct KeyState {
  std::string path;
  std::map<std::string, ValueState> values; // by lower-case name
};

struct Machine {
  std::map<std::string, FileState> files; // by lower-case path
  std::map<std::string, KeyState> keys;   // by lower-case path
};

void WalkFiles(const std::string& folder, Machine* machine) {
  ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
    FileState state;
    state.path = folder + "\\" + entry.cFileName;
    state.folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state.size = ((ULONGLONG)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
    state.written = entry.ftLastWriteTime;
    machine->files[Lower(state.path)] = state;
    // A link out of the prefix (Wine links profile folders to the Linux home) is not its files.
    if (state.folder && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      WalkFiles(state.path, machine);
    }
  });
}

// The class registrations (HKLM\Software\Classes, thousands of keys) are taken only for a plan
// that names a class key: neither setup.exe nor the Setup API writes there otherwise, and walking
// them would make every snapshot many times slower.
const char kClasses[] = "hklm\\software\\classes";

void WalkKey(HKEY key, const std::string& path, bool withClasses, Machine* machine) {
  KeyState& state = machine->keys[Lower(path)];
  state.path = path;
  std::vector<char> name(512);
  std::vector<BYTE> data(4096);
  for (DWORD i = 0;;) {
    DWORD nameSize = (DWORD)name.size();
    DWORD dataSize = (DWORD)data.size();
    DWORD type = 0;
    LONG result =
        RegEnumValueA(key, i, name.data(), &nameSize, NULL, &type, data.data(), &dataSize);
    if (result == ERROR_MORE_DATA) {
      name.resize(name.size() * 2);
      data.resize(std::max<size_t>(data.size() * 2, dataSize + 1));
      continue;
    }
    if (result != ERROR_SUCCESS) {
      break;
    }
    ValueState value;
    value.name.assign(name.data(), nameSize);
    value.type = type;
    value.data.assign((const char*)data.data(), dataSize);
    state.values[Lower(value.name)] = value;
    ++i;
  }
  for (DWORD i = 0;; ++i) {
    char subkey[512];
    DWORD size = sizeof subkey;
    if (RegEnumKeyExA(key, i, subkey, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
      break;
    }
    std::string childPath = path + "\\" + subkey;
    if (!withClasses && Lower(childPath) == kClasses) {
      continue;
    }
    HKEY child;
    if (RegOpenKeyExA(key, subkey, 0, KEY_READ | kView, &child) == ERROR_SUCCESS) {
      WalkKey(child, childPath, withClasses, machine);
      RegCloseKey(child);
    }
  }
}

// The INI entries of a file as the platform reads them back.
std::map<std::string, std::string> IniEntries(const std::string& file) {
  std::map<std::string, std::string> entries;
  std::vector<char> names(65536);
  DWORD length = GetPrivateProfileSectionNamesA(names.data(), (DWORD)names.size(), file.c_str());
  for (const char* section = names.data(); section < names.data() + length && *section != '\0';
       section += strlen(section) + 1) {
    std::vector<char> lines(65536);
    DWORD size =
        GetPrivateProfileSectionA(section, lines.data(), (DWORD)lines.size(), file.c_str());
    for (const char* line = lines.data(); line < lines.data() + size && *line != '\0';
         line += strlen(line) + 1) {
      std::string text = line;
      std::string key = text.substr(0, text.find('='));
      entries["[" + Lower(section) + "] " + Lower(key)] = "[" + std::string(section) + "] " + text;
    }
  }
  return entries;
}

// Everything on drive C: and in the registry, with the entries of the INI files named.
Machine TakeSnapshot(const std::set<std::string>& iniFiles, bool withClasses) {
  Machine machine;
  WalkFiles("C:", &machine);
  const struct {
    HKEY root;
    const char* name;
    const char* path;
  } roots[] = {{HKEY_CURRENT_USER, "HKCU", ""},
               {HKEY_LOCAL_MACHINE, "HKLM", ""},
               {HKEY_USERS, "HKU\\.DEFAULT", ".DEFAULT"}};
  for (const auto& root : roots) {
    HKEY key;
    if (RegOpenKeyExA(root.root, root.path, 0, KEY_READ | kView, &key) == ERROR_SUCCESS) {
      WalkKey(key, root.name, withClasses, &machine);
      RegCloseKey(key);
    }
  }
  for (const std::string& file : iniFiles) {
    auto found = machine.files.find(Lower(file));
    if (found != machine.files.end()) {
      found->second.entries = IniEntries(file);
    }
  }
  for (auto& [path, state] : machine.files) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".lnk") == 0) {
      Link link = ReadLink(state.path);
      if (link.loaded) {
        state.link = Lower(link.path) + " in " + Lower(link.workingDirectory) + " shown " +
                     std::to_string(link.showCommand);
      }
    }
  }
  return machine;
}

// ---- The difference of two machines, as lines ------------------------------------------------

std::string ValueLine(char change, const KeyState& key, const ValueState& value) {
  return std::string(1, change) + "value " + Lower(key.path) + " \"" + Lower(value.name) + "\" " +
         std::to_string(value.type) + " " + DescribeValueData(value.type, value.data);
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::vector<std::string> Difference(const Machine& before, const Machine& after,
                                    const std::set<std::string>& iniFiles) {
  std::vector<std::string> lines;
  for (const auto& [path, state] : after.files) {
    auto old = before.files.find(path);
    bool isNew = old == before.files.end();
    bool ini = iniFiles.count(path) != 0;
    if (state.folder) {
      if (isNew) {
        lines.push_back("+folder " + path);
      }
      continue;
    }
    if (ini) {
      const std::map<std::string, std::string> none;
      const auto& was = isNew ? none : old->second.entries;
      for (const auto& [key, entry] : state.entries) {
        auto previous = was.find(key);
        if (previous == was.end() || previous->second != entry) {
          lines.push_back("ini " + path + " " + entry);
        }
      }
      for (const auto& [key, entry] : was) {
        if (state.entries.count(key) == 0) {
          lines.push_back("-ini " + path + " " + key);
        }
      }
      if (isNew) {
        lines.push_back("+ini-file " + path);
      }
      continue;
    }
    bool changed =
        isNew || old->second.size != state.size || !SameTime(old->second.written, state.written);
    if (!changed) {
      continue;
    }
    std::string change = isNew ? "+" : "~";
    if (!state.link.empty()) {
      lines.push_back(change + "link " + path + " -> " + state.link);
    } else {
      lines.push_back(change + "file " + path + " " + std::to_string(state.size));
    }
  }
  for (const auto& [path, state] : before.files) {
    if (after.files.count(path) == 0) {
      lines.push_back(std::string("-") + (state.folder ? "folder " : "file ") + path);
    }
  }
  for (const auto& [path, key] : after.keys) {
    auto old = before.keys.find(path);
    if (old == before.keys.end()) {
      lines.push_back("+key " + path);
    }
    for (const auto& [name, value] : key.values) {
      const ValueState* was = nullptr;
      if (old != before.keys.end()) {
        auto found = old->second.values.find(name);
        was = found != old->second.values.end() ? &found->second : nullptr;
      }
      if (was == nullptr) {
        lines.push_back(ValueLine('+', key, value));
      } else if (was->type != value.type || was->data != value.data) {
        lines.push_back(ValueLine('~', key, value));
      }
    }
    if (old != before.keys.end()) {
      for (const auto& [name, value] : old->second.values) {
        if (key.values.count(name) == 0) {
          lines.push_back("-value " + path + " \"" + name + "\"");
        }
      }
    }
  }
  for (const auto& [path, key] : before.keys) {
    if (after.keys.count(path) == 0) {
      lines.push_back("-key " + path);
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// ---- The machine the plan predicts ------------------------------------------------------------

struct Places {
  std::string setupFolder; // where setup.exe and SETUP.DAT lie
  std::string windows;
  std::string programs, desktop; // Shell Folders values
};

std::string StepFile(const PlanStep& step, const Places& places) {
  switch (step.base) {
  case kBaseSetupFolder:
    return FullPath(JoinPath(places.setupFolder, step.path));
  case kBaseWindows:
    return FullPath(JoinPath(places.windows, step.path));
  case kBasePrograms:
    return FullPath(JoinPath(places.programs, step.path));
  case kBaseDesktop:
    return FullPath(JoinPath(places.desktop, step.path));
  case kBaseNone:
    break;
  }
  return FullPath(step.path);
}

// Registry paths of the plan (HKCU\..., HKLM\...) as the snapshot names them.
std::string KeyPath(const std::string& path) {
  return Lower(path);
}

struct Prediction {
  Machine machine;
  std::vector<std::string> uncertain; // lower-case paths below which any change is allowed
  std::set<std::string> iniFiles;     // lower-case
  bool runs = false;                  // the system's runonce is started
  std::map<std::string, std::pair<std::string, std::string>> copies; // the last copy to a target
  std::string problem;
};

bool HasKey(const Machine& machine, const std::string& path) {
  return machine.keys.count(KeyPath(path)) != 0;
}

void MakeKey(Machine* machine, const std::string& path) {
  std::string made;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && path[end] != '\\') {
      end += CharSize(path, end);
    }
    made += (made.empty() ? "" : "\\") + path.substr(start, end - start);
    start = end + 1;
    if (made == "HKU") {
      continue;
    }
    KeyState& key = machine->keys[KeyPath(made)];
    if (key.path.empty()) {
      key.path = made;
    }
  }
}

// Where the "\\" after a key or a value name begins, walked by character.
size_t PairedSeparator(const std::string& text) {
  for (size_t i = 0; i < text.size(); i += CharSize(text, i)) {
    if (text.compare(i, 2, "\\\\") == 0) {
      return i;
    }
  }
  return std::string::npos;
}

// Whether an install writes a record entry: what it names was not there before the install.
bool Recorded(const PlanStep& step, const Places& places, const Machine& before,
              const std::string& destination) {
  const std::string& name = step.name;
  if (step.section == "Files" || step.section == "Folders") {
    return before.files.count(
               Lower(FullPath(name == "." ? destination : destination + "\\" + name))) == 0;
  }
  if (step.section == "Ini") {
    size_t first = name.find('|');
    size_t second = name.find('|', first + 1);
    std::string file = name.substr(0, first);
    file = FullPath(file.find_first_of("\\/") == std::string::npos ? JoinPath(places.windows, file)
                                                                   : file);
    auto ini = before.files.find(Lower(file));
    return ini == before.files.end() ||
           ini->second.entries.count("[" + Lower(name.substr(first + 1, second - first - 1)) +
                                     "] " + Lower(name.substr(second + 1))) == 0;
  }
  if (step.section != "Registry") {
    return true;
  }
  size_t split = PairedSeparator(name);
  auto key = before.keys.find(KeyPath(name.substr(0, split)));
  if (key == before.keys.end() || split == std::string::npos) {
    return key == before.keys.end();
  }
  std::string value = name.substr(split + 2);
  size_t string = PairedSeparator(value);
  auto found = key->second.values.find(Lower(value.substr(0, string)));
  if (found == key->second.values.end() || string == std::string::npos) {
    return found == key->second.values.end();
  }
  const std::string nul(1, '\0');
  return (nul + found->second.data).find(nul + value.substr(string + 2) + nul) == std::string::npos;
}

// A list without the first of its strings that is string (ASCII letters folded); the others
// stay as they were, empty ones too.
std::string WithoutString(const std::string& list, const std::string& string) {
  for (size_t at = 0; at < list.size();) {
    size_t end = std::min(list.find('\0', at), list.size());
    if (Lower(list.substr(at, end - at)) == Lower(string)) {
      return list.substr(0, at) + list.substr(std::min(end + 1, list.size()));
    }
    at = end + 1;
  }
  return list;
}

void Apply(const Plan& plan, const Places& places, const Machine& before, Prediction* out) {
  Machine& m = out->machine;
  m = before;
  for (const PlanStep& step : plan.steps) {
    bool file = step.kind == kStepSize || step.kind == kStepFolder || step.kind == kStepFile ||
                step.kind == kStepIni || step.kind == kStepLink || step.kind == kStepRemoveFile ||
                step.kind == kStepRemoveFolder || step.kind == kStepRemoveIni ||
                step.kind == kStepRecord;
    std::string path = file ? StepFile(step, places) : step.path;
    if (!step.machine.empty()) {
      // A record entry: only that entry is uncertain, not the whole record.
      out->uncertain.push_back(Lower(
          step.kind == kStepRecord ? path + " [" + step.section + "] " + step.name + "=" : path));
      if (StartsWith(Lower(path), "hkcr")) { // the class keys of the machine or of the user
        out->uncertain.push_back(std::string(kClasses) + Lower(path.substr(4)));
        out->uncertain.push_back("hkcu\\software\\classes" + Lower(path.substr(4)));
      }
      continue;
    }
    if (!step.requiredKey.empty() && !HasKey(m, step.requiredKey)) {
      continue;
    }
    bool parentThere = m.files.count(Lower(Parent(path))) != 0 || Parent(path).size() <= 2;
    bool isRoot = path.size() <= 3; // a drive's root is always there
    switch (step.kind) {
    case kStepFolder:
      if (parentThere && !isRoot && m.files.count(Lower(path)) == 0) {
        FileState& folder = m.files[Lower(path)];
        folder.path = path;
        folder.folder = true;
      }
      break;
    case kStepFile: {
      if (!parentThere) {
        out->problem = "the plan copies into a folder that is not there: " + path;
        return;
      }
      std::string source = FullPath(JoinPath(places.setupFolder, step.text));
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (!GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &data)) {
        out->problem = "no source " + source;
        return;
      }
      FileState& target = m.files[Lower(path)];
      target.path = path;
      target.size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
      target.written = data.ftLastWriteTime; // a copy keeps its source's time
      out->copies[Lower(path)] = {path, source};
      break;
    }
    case kStepRecord:
      if (!Recorded(step, places, before, plan.destination)) {
        break;
      }
      [[fallthrough]];
    case kStepSize:
    case kStepIni:
      if (parentThere) {
        out->iniFiles.insert(Lower(path));
        FileState& ini = m.files[Lower(path)];
        ini.path = path;
        ini.entries["[" + Lower(step.section) + "] " + Lower(step.name)] =
            "[" + step.section + "] " + step.name + "=" + step.text;
      }
      break;
    case kStepLink:
      if (parentThere) {
        FileState& link = m.files[Lower(path)];
        link.path = path;
        link.link = Lower(step.text) + " in " + Lower(step.folder) + " shown 1";
        link.size = ~0ull; // written anew
      }
      break;
    case kStepKey:
      MakeKey(&m, step.path);
      break;
    case kStepValue: {
      auto key = m.keys.find(KeyPath(step.path));
      if (key == m.keys.end()) {
        break;
      }
      bool present = key->second.values.count(Lower(step.name)) != 0;
      if ((step.valueCondition == kOnlyIfAbsent && present) ||
          (step.valueCondition == kOnlyIfPresent && !present)) {
        break;
      }
      key->second.values[Lower(step.name)] = ValueState{step.name, step.type, step.data};
      break;
    }
    case kStepDeleteValue: {
      auto key = m.keys.find(KeyPath(step.path));
      auto value = key == m.keys.end() ? decltype(key->second.values.end())()
                                       : key->second.values.find(Lower(step.name));
      if (key == m.keys.end() || value == key->second.values.end()) {
        break;
      }
      if (step.text.empty()) {
        key->second.values.erase(value);
      } else if (value->second.type == REG_MULTI_SZ) {
        value->second.data = WithoutString(value->second.data, step.text);
        if (value->second.data.find_first_not_of('\0') == std::string::npos) {
          key->second.values.erase(value);
        }
      }
      break;
    }
    case kStepStay:
      break;
    case kStepDeleteKey: {
      std::string gone = KeyPath(step.path);
      for (auto it = m.keys.begin(); it != m.keys.end();) {
        it = it->first == gone || StartsWith(it->first, gone + "\\") ? m.keys.erase(it)
                                                                     : std::next(it);
      }
      break;
    }
    case kStepRun:
      out->runs = true;
      break;
    case kStepRemoveFile:
      if (!StartsWith(step.only, "where it points at ") ||
          m.files[Lower(path)].link.find(Lower(step.only.substr(19)) + " in") == 0) {
        m.files.erase(Lower(path));
      }
      break;
    case kStepRemoveFolder:
      if (std::none_of(m.files.begin(), m.files.end(), [&](const auto& entry) {
            return StartsWith(entry.first, Lower(path) + "\\");
          })) {
        m.files.erase(Lower(path));
      }
      break;
    case kStepRemoveIni: {
      auto ini = m.files.find(Lower(path));
      if (ini != m.files.end()) {
        ini->second.entries.erase("[" + Lower(step.section) + "] " + Lower(step.name));
        if (ini->second.entries.empty()) {
          m.files.erase(ini);
        }
      }
      break;
    }
    case kStepRemoveKey: {
      auto key = m.keys.find(KeyPath(step.path));
      if (key != m.keys.end() && key->second.values.empty() &&
          std::none_of(m.keys.begin(), m.keys.end(), [&](const auto& entry) {
            return StartsWith(entry.first, key->first + "\\");
          })) {
        m.keys.erase(key);
      }
      break;
    }
    }
  }
}

std::vector<std::string> WithoutUncertain(const std::vector<std::string>& lines,
                                          const std::vector<std::string>& uncertain) {
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    bool covered = false;
    for (const std::string& path : uncertain) {
      covered |= Lower(line).find(" " + path) != std::string::npos;
    }
    if (!covered) {
      kept.push_back(line);
    }
  }
  return kept;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

// ---- Cleaning up after a run: whatever it added is removed, whatever it changed put back ------

void Undo(const Machine& before, const Machine& after) {
  std::vector<std::string> added;
  for (const auto& [path, state] : after.files) {
    if (before.files.count(path) == 0) {
      added.push_back(state.path);
    }
  }
  std::sort(added.begin(), added.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& path : added) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path.c_str())) {
      RemoveDirectoryA(path.c_str());
    }
  }
  auto open = [](const std::string& path, HKEY* key) {
    size_t split = path.find('\\');
    std::string rootName = path.substr(0, split);
    HKEY root = rootName == "HKCU"   ? HKEY_CURRENT_USER
                : rootName == "HKLM" ? HKEY_LOCAL_MACHINE
                                     : HKEY_USERS;
    std::string rest = split == std::string::npos ? "" : path.substr(split + 1);
    return RegOpenKeyExA(root, rest.c_str(), 0, KEY_ALL_ACCESS | kView, key) == ERROR_SUCCESS;
  };
  std::vector<std::string> newKeys;
  for (const auto& [path, key] : after.keys) {
    auto old = before.keys.find(path);
    if (old == before.keys.end()) {
      newKeys.push_back(key.path);
      continue;
    }
    HKEY handle;
    if (!open(key.path, &handle)) {
      continue;
    }
    for (const auto& [name, value] : key.values) {
      if (old->second.values.count(name) == 0) {
        RegDeleteValueA(handle, value.name.c_str());
      }
    }
    for (const auto& [name, value] : old->second.values) {
      auto now = key.values.find(name);
      if (now == key.values.end() || now->second.data != value.data ||
          now->second.type != value.type) {
        RegSetValueExA(handle, value.name.c_str(), 0, value.type, (const BYTE*)value.data.data(),
                       (DWORD)value.data.size());
      }
    }
    RegCloseKey(handle);
  }
  std::sort(newKeys.begin(), newKeys.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& path : newKeys) {
    HKEY parent;
    if (open(Parent(path), &parent)) {
      RegDeleteKeyA(parent, path.substr(LastSeparator(path) + 1).c_str());
      RegCloseKey(parent);
    }
  }
}

// ---- Driving setup.exe with the plan's choices ------------------------------------------------

// Clicks a button until its window is gone: a click that reaches a dialog before its modal loop
// runs can be lost, and one that comes after the window ended goes nowhere.
bool Press(SetupProcess& setup, HWND window, int id) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    setup.Click(window, id);
    if (setup.WaitForWindowGone(window, 3000)) {
      return true;
    }
  }
  return false;
}

struct Outcome {
  std::string problem;
  std::string finalMessage;
};

Outcome Drive(const std::string& exe, const PlanChoices& choices, const CheckResult& checked,
              const std::string& destination) {
  Outcome outcome;
  SetupProcess setup;
  if (!setup.Start(exe)) {
    outcome.problem = "setup.exe did not start";
    return outcome;
  }
  HWND page = setup.WaitForWindow(IsDestinationPage);
  if (page == NULL) {
    outcome.problem = "no destination page: " + setup.Describe();
    return outcome;
  }
  // The destination the page shows, put there by the test's App Paths entry where a plan is for
  // a chosen one: Wine's folder browser takes no typed folder.
  std::string shown = WindowText(GetDlgItem(page, IDC_FOLDER_LABEL));
  if (shown != destination) {
    outcome.problem = "the destination page shows " + shown + ", not " + destination;
    return outcome;
  }
  if (!Press(setup, page, IDC_NEXT)) {
    outcome.problem = "the destination page stays: " + setup.Describe();
    return outcome;
  }
  if (!checked.options.empty()) {
    HWND options = setup.WaitForWindow(IsOptionsPage);
    if (options == NULL) {
      outcome.problem = "no options page: " + setup.Describe();
      return outcome;
    }
    for (int n : choices.without) {
      int box = n == checked.options[0] ? IDC_OPTION1 : IDC_OPTION2;
      setup.Click(options, box);
      HWND control = GetDlgItem(options, box);
      if (!WaitUntil([&] { return SendMessageA(control, BM_GETCHECK, 0, 0) == BST_UNCHECKED; },
                     30000)) {
        outcome.problem = "the box of group " + std::to_string(n) + " stays ticked";
        return outcome;
      }
    }
    if (!Press(setup, options, IDC_NEXT)) {
      outcome.problem = "the options page stays: " + setup.Describe();
      return outcome;
    }
  }
  HWND done = setup.WaitForWindow(IsMessageBox, kRunTimeoutMs);
  if (done == NULL) {
    outcome.problem = "no final message: " + setup.Describe();
    return outcome;
  }
  outcome.finalMessage = setup.Snapshot(done).MessageText();
  Press(setup, done, IDOK);
  DWORD exitCode = 99;
  if (!setup.WaitForExit(kRunTimeoutMs, &exitCode) ||
      !WaitUntil([&] { return !RunOnceProbe::Running(setup.ProcessId()); }, 30000)) {
    outcome.problem = "setup.exe or runonce did not end";
  }
  return outcome;
}

// ---- Removing it with the real uninstall.exe ----------------------------------------------------

std::string UninstallExePath() {
  const char* path = getenv("UNINSTALL_EXE");
  return path == nullptr  ? BuildFolder() + "\\uninstall.exe"
         : path[0] == '/' ? WindowsPath(path)
                          : path;
}

struct Removal {
  std::string problem;
  std::string question, closing; // "caption: text"
};

// Answers Yes to the question, follows the copy that does the removal, and presses OK on its
// closing message; every file the removal left in the temporary folder is a problem. Answering
// No, it waits for the program to end; a loading error counts as the question.
Removal Remove(const std::string& program, int answer = IDYES) {
  Removal removal;
  SetupProcess first;
  if (!first.Start(program)) {
    removal.problem = "uninstall.exe did not start";
    return removal;
  }
  HWND question = first.WaitForWindow(IsMessageBox);
  if (question == NULL) {
    removal.problem = "no question: " + first.Describe();
    return removal;
  }
  WindowSnapshot asked = first.Snapshot(question);
  removal.question = asked.caption + ": " + asked.MessageText();
  if (answer != IDYES) {
    Press(first, question, answer);
    removal.problem = first.WaitForExit(kRunTimeoutMs, nullptr) ? "" : "uninstall.exe stays";
    return removal;
  }
  SetupProcess copy;
  if (!Press(first, question, IDYES) || !first.WaitForExit(kRunTimeoutMs, nullptr) ||
      !copy.FollowChildOf(first.ProcessId(), "kvs-uninstall-")) {
    removal.problem = "no copy took over the removal";
    return removal;
  }
  HWND closing = copy.WaitForWindow(IsMessageBox, kRunTimeoutMs);
  if (closing == NULL) {
    removal.problem = "no closing message: " + copy.Describe();
    return removal;
  }
  WindowSnapshot closed = copy.Snapshot(closing);
  removal.closing = closed.caption + ": " + closed.MessageText();
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  auto copiesLeft = [&] { return EntryNames(temp).find("kvs-uninstall-") != std::string::npos; };
  if (!Press(copy, closing, IDOK) || !copy.WaitForExit(kRunTimeoutMs, nullptr) ||
      !WaitUntil([&] { return !copiesLeft(); }, 30000)) {
    removal.problem = "the copy did not end, or left itself: " + EntryNames(temp);
  }
  return removal;
}

// ---- One install, compared --------------------------------------------------------------------

struct MachineSetting {
  bool runOnceSetupKey = false;  // RunOnce\Setup present: "Wrapper" is written too
  bool layersEntry = false;      // a compatibility entry for the installed program to remove
  std::function<void()> prepare; // more of the machine made before the run
  std::function<void()> forget;  // and removed after it
  bool reinstall = false;        // installed a second time over the first before the removal
  std::function<void()> removed; // checks once the removal ran
};

int64_t ClusterSize() {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  GetDiskFreeSpaceA("C:\\", &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters);
  return (int64_t)sectorsPerCluster * bytesPerSector;
}

std::string Described(const Plan& plan) {
  std::string steps;
  for (const PlanStep& step : plan.steps) {
    steps += "  " + DescribeStep(step) + "\n";
  }
  return steps;
}

// What a removal leaves as the install made it: what default_install deleted, the shell's RunOnce
// values, the compatibility entry, sizes.txt in the distribution, files copied outside the
// installed folder, and what the plan marks (any change); and what was there before and that the
// install wrote anew (files, values, INI entries): those keep the new contents, and only that.
struct Kept {
  std::vector<std::string> anyChange, newContents;
};

Kept NotRestored(const Plan& plan, const Machine& before, const Places& places,
                 const Prediction& predicted) {
  Kept kept;
  kept.anyChange = predicted.uncertain;
  kept.anyChange.push_back(Lower(std::string("hklm\\") + kRunOnce));
  kept.anyChange.push_back(Lower(std::string("hkcu\\") + kLayers));
  kept.anyChange.push_back(Lower(places.setupFolder));
  for (const PlanStep& step : plan.steps) {
    std::string key = KeyPath(step.path);
    std::string file = Lower(StepFile(step, places));
    if (step.kind == kStepDeleteKey || step.kind == kStepDeleteValue) {
      kept.anyChange.push_back(key);
    } else if (step.kind == kStepValue && before.keys.count(key) != 0 &&
               before.keys.at(key).values.count(Lower(step.name)) != 0) {
      kept.newContents.push_back(key + " \"" + Lower(step.name) + "\"");
    } else if (step.kind == kStepIni && before.files.count(file) != 0 &&
               before.files.at(file).entries.count("[" + Lower(step.section) + "] " +
                                                   Lower(step.name)) != 0) {
      kept.newContents.push_back(file + " [" + Lower(step.section) + "] " + Lower(step.name) + "=");
    } else if (step.kind == kStepFile && before.files.count(file) != 0) {
      kept.newContents.push_back(file);
    } else if (step.kind == kStepFile || step.kind == kStepFolder) {
      std::string name = step.path.substr(std::min(step.path.size(), plan.destination.size() + 1));
      if (NamesPlaceOutside(name.c_str())) {
        kept.anyChange.push_back(file);
      }
    }
  }
  return kept;
}

// Reads the installed record; false where there is none.
bool ReadRecord(const std::string& destination, PlanChoices* choices) {
  choices->haveRecord =
      GetFileAttributesA((destination + "\\uninstall.ini").c_str()) != INVALID_FILE_ATTRIBUTES;
  choices->record = choices->haveRecord ? ReadTextFile(destination + "\\uninstall.ini") : "";
  return choices->haveRecord;
}

// Removes the installation with the uninstall.exe the install put into its folder, as its record
// says, and compares the machine with the one before the install: equal, save what it kept.
Machine RemoveAndCompare(const Plan& plan, const CheckResult& checked, const Distribution& dist,
                         PlanChoices choices, const Places& places, const Machine& before,
                         const Machine& installed, const std::set<std::string>& iniFiles,
                         bool withClasses, const Prediction& predicted) {
  std::string program = plan.destination + "\\uninstall.exe";
  if (!ReadRecord(plan.destination, &choices) ||
      GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return installed; // a distribution that does not install uninstall.exe
  }
  Removal removal = Remove(program);
  Machine removed = TakeSnapshot(iniFiles, withClasses);
  EXPECT_EQ("", removal.problem);
  EXPECT_EQ(checked.title + ": Do you want to remove " + checked.appName +
                " and all of its components from your computer?",
            removal.question);
  EXPECT_EQ(checked.title + ": " + checked.appName + " has been removed from your computer.",
            removal.closing);
  // The removal plan of that record, applied to the machine as the install left it, is what the
  // removal did.
  Plan removalPlan;
  std::string problem;
  EXPECT_TRUE(MakeRemovalPlan(checked, dist.Path(), choices, &removalPlan, &problem)) << problem;
  Prediction planned;
  Apply(removalPlan, places, installed, &planned);
  planned.uncertain.insert(planned.uncertain.end(), predicted.uncertain.begin(),
                           predicted.uncertain.end());
  EXPECT_EQ(
      Joined(WithoutUncertain(Difference(installed, planned.machine, iniFiles), planned.uncertain)),
      Joined(WithoutUncertain(Difference(installed, removed, iniFiles), planned.uncertain)))
      << "removal plan:\n"
      << Described(removalPlan);
  std::vector<std::string> differences = Difference(before, removed, iniFiles);
  Kept kept = NotRestored(plan, before, places, predicted);
  // A file or INI entry whose name the record cannot hold is never recorded, so it stays.
  auto trimmed = [](const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    return start == std::string::npos
               ? ""
               : text.substr(start, text.find_last_not_of(" \t") + 1 - start);
  };
  for (const PlanStep& step : removalPlan.steps) {
    size_t bar = step.path.find('|');
    size_t last = step.path.rfind('|');
    if (step.kind == kStepStay && step.only == "a name the record cannot hold") {
      kept.anyChange.push_back(Lower(bar == std::string::npos
                                         ? StepFile(step, places)
                                         : step.path.substr(0, bar) + " [" +
                                               trimmed(step.path.substr(bar + 1, last - bar - 1)) +
                                               "] " + trimmed(step.path.substr(last + 1)) + "="));
    }
  }
  std::vector<std::string> unexpected;
  for (const std::string& line : WithoutUncertain(differences, kept.anyChange)) {
    bool newContents = line[0] == '~' || StartsWith(line, "ini ");
    if (!newContents || !WithoutUncertain({line}, kept.newContents).empty()) {
      unexpected.push_back(line);
    }
  }
  // A folder or INI file that still holds what stays stays, rightly; an empty one is a fault
  // (empty folders inside it do not count).
  unexpected.erase(
      std::remove_if(unexpected.begin(), unexpected.end(),
                     [&](const std::string& line) {
                       bool ini = StartsWith(line, "+ini-file ");
                       std::string folder = line.substr(line.find(' ') + 1) + (ini ? " [" : "\\");
                       return (ini || StartsWith(line, "+folder ")) &&
                              std::any_of(differences.begin(), differences.end(),
                                          [&](const std::string& other) {
                                            return !StartsWith(other, "+folder ") &&
                                                   other.find(" " + folder) != std::string::npos;
                                          });
                     }),
      unexpected.end());
  printf("[removal] %u lines of difference from the machine before, %u not as planned\n",
         (unsigned)differences.size(), (unsigned)unexpected.size());
  EXPECT_EQ("", Joined(unexpected)) << "left or changed by the removal; all differences:\n"
                                    << Joined(differences);
  return removed;
}

// The real uninstall.exe, installed with SETUP.DAT by the first group where the distribution does
// not ship it: every install leaves a record, and its removal is compared too.
void ShipUninstaller(const Distribution& dist) {
  CheckResult checked;
  CheckDistribution(dist.Path(), kDefaultClusterSize, &checked);
  bool shipped = GetFileAttributesA(dist.File("uninstall.exe").c_str()) != INVALID_FILE_ATTRIBUTES;
  CopyFileA(UninstallExePath().c_str(), dist.File("uninstall.exe").c_str(), FALSE);
  std::string text = ReadTextFile(dist.File("SETUP.DAT"));
  std::string header = checked.groups.empty() ? "" : "[" + Lower(checked.groups[0].section) + "]";
  size_t at = Lower(text).find(header);
  if (!shipped && !header.empty() && at != std::string::npos) {
    text.insert(text.find('\n', at) + 1, "uninstall.exe\nSETUP.DAT\n");
    dist.SetSetupDat(text);
  }
}

void InstallAndCompare(const std::string& name, const Distribution& dist, PlanChoices choices,
                       const MachineSetting& setting) {
  SCOPED_TRACE(name);
  choices.cluster = ClusterSize();
  ShipUninstaller(dist);
  CheckResult checked;
  CheckDistribution(dist.Path(), choices.cluster, &checked);
  ASSERT_EQ(0, CountErrors(checked)) << name << ": a distribution with errors";
  Plan plan;
  std::string problem;
  ASSERT_TRUE(MakePlan(checked, dist.Path(), choices, &plan, &problem)) << problem;

  Places places;
  places.setupFolder = FullPath(dist.Path());
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  places.windows = windows;
  std::string exe = dist.AddSetupExe();
  // Planted beside setup.exe, where it must not be started; the system's is the probe too.
  CopyFileA(RunOnceProbe::ExePath().c_str(), dist.File("runonce.exe").c_str(), FALSE);
  RunOnceProbe probe;
  const std::string installed = plan.destination + "\\" + checked.exeName + ".exe";
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  SavedRegistryValue wrapper(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
  std::unique_ptr<ScopedRegistryKey> setupKey;
  if (setting.runOnceSetupKey) {
    setupKey.reset(new ScopedRegistryKey(HKEY_LOCAL_MACHINE, std::string(kRunOnce) + "\\Setup"));
  }
  // A Layers key made here goes again: other tests skip where the prefix already has one.
  const bool hadLayersKey = RegistryKeyExists(HKEY_CURRENT_USER, kLayers);
  if (setting.layersEntry) {
    SetRegistryString(HKEY_CURRENT_USER, kLayers, installed, "WIN95");
  }
  std::unique_ptr<ScopedRegistryKey> appPath;
  if (!choices.destination.empty()) {
    appPath.reset(new ScopedRegistryKey(HKEY_LOCAL_MACHINE,
                                        std::string(kAppPaths) + checked.exeName + ".exe"));
    appPath->SetString("Path", choices.destination);
  }
  if (setting.prepare) {
    setting.prepare();
  }

  // The INI files: every file the plan writes entries to.
  std::set<std::string> iniFiles;
  places.programs = ShellFolder("Programs");
  places.desktop = ShellFolder("Desktop");
  bool withClasses = false;
  for (const PlanStep& step : plan.steps) {
    if (step.kind == kStepIni || step.kind == kStepSize || step.kind == kStepRecord) {
      iniFiles.insert(Lower(StepFile(step, places)));
    }
    withClasses |= StartsWith(Lower(step.path), "hkcr") || StartsWith(Lower(step.path), kClasses);
  }
  DWORD start = GetTickCount();
  Machine before = TakeSnapshot(iniFiles, withClasses);
  DWORD snapshot = GetTickCount() - start;
  start = GetTickCount();
  Outcome outcome = Drive(exe, choices, checked, plan.destination);
  DWORD run = GetTickCount() - start;
  places.programs = ShellFolder("Programs");
  places.desktop = ShellFolder("Desktop");
  Machine after = TakeSnapshot(iniFiles, withClasses);

  EXPECT_EQ("", outcome.problem);
  EXPECT_EQ("Setup has finished installing " + checked.appName + " on your computer.",
            outcome.finalMessage);
  Prediction predicted;
  Apply(plan, places, before, &predicted);
  EXPECT_EQ("", predicted.problem);
  // The probe's log is the test's own instrument, not the install's.
  predicted.uncertain.push_back(Lower(Parent(probe.LogPath())));
  predicted.uncertain.insert(predicted.uncertain.end(), std::begin(kPlatformNoise),
                             std::end(kPlatformNoise));
  std::vector<std::string> expected =
      WithoutUncertain(Difference(before, predicted.machine, iniFiles), predicted.uncertain);
  std::vector<std::string> actual =
      WithoutUncertain(Difference(before, after, iniFiles), predicted.uncertain);
  printf("[plan] %s: %u steps, %u lines of difference; snapshot %lu ms (%u files, %u keys), "
         "run %lu ms\n",
         name.c_str(), (unsigned)plan.steps.size(), (unsigned)actual.size(), snapshot,
         (unsigned)before.files.size(), (unsigned)before.keys.size(), run);
  EXPECT_EQ(Joined(expected), Joined(actual)) << "plan:\n" << Described(plan);
  for (const auto& [key, copy] : predicted.copies) {
    EXPECT_EQ(ReadTextFile(copy.second), ReadTextFile(copy.first)) << copy.first;
  }
  EXPECT_EQ(predicted.runs ? RunOnceProbe::SystemStart() : "", probe.Log());
  if (setting.reinstall && outcome.problem.empty()) {
    // Over the first: the record keeps its entries and adds none for what is there now.
    outcome = Drive(exe, choices, checked, plan.destination);
    Machine again = TakeSnapshot(iniFiles, withClasses);
    EXPECT_EQ("", outcome.problem);
    Prediction second;
    Apply(plan, places, after, &second);
    second.uncertain = predicted.uncertain;
    EXPECT_EQ(
        Joined(WithoutUncertain(Difference(after, second.machine, iniFiles), predicted.uncertain)),
        Joined(WithoutUncertain(Difference(after, again, iniFiles), predicted.uncertain)))
        << "reinstall, plan:\n"
        << Described(plan);
    after = again;
  }
  if (outcome.problem.empty()) {
    after = RemoveAndCompare(plan, checked, dist, choices, places, before, after, iniFiles,
                             withClasses, predicted);
    if (setting.removed) {
      setting.removed();
    }
  }

  Undo(before, after);
  DeleteRegistryValue(HKEY_CURRENT_USER, kLayers, installed);
  if (!hadLayersKey) {
    DeleteRegistryTree(HKEY_CURRENT_USER, kLayers);
  }
  if (setting.forget) {
    setting.forget();
  }
}

TEST(PlanMatchesInstall, Example) {
  Distribution dist;
  dist.CopyExample();
  TempFolder target("plan-target");
  PlanChoices choices;
  choices.destination = target / "Kelvara Demo";
  MachineSetting setting;
  setting.runOnceSetupKey = true;
  setting.layersEntry = true;
  InstallAndCompare("examples/demo", dist, choices, setting);
}

// An install record of Kelvara Demo for folder, as setup.exe writes it: every name of lists
// ("section", then its keys) as a key of its section.
void WriteDemoRecord(const std::string& folder, const std::vector<std::string>& lists) {
  std::string text = "[Installation]\nApplication=Kelvara Demo\nFolder=" + folder + "\\\n";
  for (const std::string& name : lists) {
    text += name[0] == '[' ? name + "\n" : name + "=1\n";
  }
  WriteTextFile(folder + "\\uninstall.ini", text);
}

// Only a folder whose record names it and the application is removed: not before the install
// recorded it, not a copy of it, not the distribution, not without SETUP.DAT. No changes
// nothing. Then only what the record lists goes: a file, a value, a list's other strings, an INI
// entry not in it stay, however long the record; a read-only file goes; a file held open is named
// and stays, with all that starts the removal again; a second run, once it is closed, removes
// them. SETUP.DAT held open at the end stays, named, without a promise that a run finishes it.
TEST(PlanMatchesInstall, RemovalTakesOnlyWhatTheRecordListsAndFinishesOnASecondRun) {
  Distribution dist;
  dist.CopyExample();
  const std::string key =
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvara Demo";
  std::string setupDat = ReadTextFile(dist.File("SETUP.DAT"));
  setupDat.insert(setupDat.find("[Demo.AddReg]") + 14,
                  "HKLM,Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%APPNAME%,"
                  "UninstallString,,\"\"\"%65600%\\uninstall.exe\"\"\"\n");
  dist.SetSetupDat(setupDat);
  TempFolder target("removal");
  const std::string folder = target / "Kelvara Demo";
  ScopedRegistryKey appPath(HKEY_LOCAL_MACHINE, std::string(kAppPaths) + "KDemo.exe");
  appPath.SetString("Path", folder);
  CheckResult checked;
  CheckDistribution(dist.Path(), kDefaultClusterSize, &checked);
  std::string exe = dist.AddSetupExe();
  CopyFileA(RunOnceProbe::ExePath().c_str(), dist.File("runonce.exe").c_str(), FALSE);
  RunOnceProbe probe;
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  SavedRegistryValue wrapper(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
  ASSERT_EQ("", Drive(exe, PlanChoices(), checked, folder).problem);
  CopyFileA(UninstallExePath().c_str(), (folder + "\\uninstall.exe").c_str(), FALSE);
  CopyFileA(UninstallExePath().c_str(), dist.File("uninstall.exe").c_str(), FALSE);
  CopyFileA(dist.File("SETUP.DAT").c_str(), (folder + "\\SETUP.DAT").c_str(), FALSE);
  SetFileAttributesA((folder + "\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteTextFile(folder + "\\help\\notes.txt", "the user's own");
  WriteTextFile(target / "outside.txt", "not the application's");
  WritePrivateProfileStringA("Settings", "Theme", "dark", (folder + "\\kdemo.ini").c_str());
  SetRegistryString(HKEY_LOCAL_MACHINE, "Software\\Kelvara\\Demo", "Edition", "the user's");
  const std::string list("a\0\0C:\\Tools\0b\0", 14);
  ScopedRegistryKey lists(HKEY_CURRENT_USER, "Software\\Kelvara\\Lists");
  lists.SetRaw("Path", REG_MULTI_SZ, list.data(), (DWORD)list.size());
  const std::string installedFiles = EntryNames(folder);
  EXPECT_EQ("Kelvara Demo Setup: There is no installation of Kelvara Demo in " + folder + ".",
            Remove(folder + "\\uninstall.exe", IDOK).question);
  EXPECT_EQ(installedFiles, EntryNames(folder));

  std::vector<std::string> record = {"[Files]"};
  for (int i = 0; i < 2000; ++i) {
    record.push_back("old\\file" + std::to_string(i) + ".txt"); // far beyond 32 KiB
  }
  record.insert(record.end(), {"KDemo.exe",
                               "readme.txt",
                               "data\\levels.dat",
                               "help\\guide.txt",
                               "help\\faq.txt",
                               "uninstall.exe",
                               "SETUP.DAT",
                               "..\\outside.txt",
                               "[Folders]",
                               "data",
                               "help",
                               "song",
                               ".",
                               "[Registry]",
                               "HKCU",
                               "HKCU\\Software\\Kelvara",
                               "HKCU\\Software\\Kelvara\\Demo",
                               "HKCU\\Software\\Kelvara\\Demo\\\\InstallDir",
                               "HKCU\\Software\\Kelvara\\Lists\\\\Path\\\\c:\\tools",
                               "HKLM\\Software\\Kelvara",
                               "HKLM\\Software\\Kelvara\\Demo",
                               "HKLM\\Software\\Kelvara\\Demo\\\\Version",
                               key,
                               key + "\\\\UninstallString",
                               "[Ini]",
                               folder + "\\kdemo.ini|Settings|InstallDir"});
  WriteDemoRecord(folder, record);
  const std::string recorded = EntryNames(folder);
  const std::string copy = target / "Copy of Kelvara Demo";
  CopyTree(folder, copy);
  for (const std::string& place : {copy, FullPath(dist.Path())}) {
    const std::string before = EntryNames(place);
    EXPECT_EQ("Kelvara Demo Setup: There is no installation of Kelvara Demo in " + place + ".",
              Remove(place + "\\uninstall.exe", IDOK).question);
    EXPECT_EQ(before, EntryNames(place));
  }
  EXPECT_EQ(recorded, EntryNames(folder));
  EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\Kelvara\\Demo"));
  EXPECT_EQ("", Remove(folder + "\\uninstall.exe", IDNO).problem);
  EXPECT_TRUE(FileExists(folder + "\\KDemo.exe")) << "No changes nothing";
  DeleteFileA((folder + "\\SETUP.DAT").c_str());
  EXPECT_EQ("Setup: There is no installation to remove in " + folder + ".",
            Remove(folder + "\\uninstall.exe", IDOK).question);
  CopyFileA(dist.File("SETUP.DAT").c_str(), (folder + "\\SETUP.DAT").c_str(), FALSE);

  const std::string heldFile = folder + "\\data\\levels.dat";
  HANDLE held =
      CreateFileA(heldFile.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  Removal first = Remove(folder + "\\uninstall.exe");
  CloseHandle(held);
  EXPECT_EQ("", first.problem);
  EXPECT_EQ("Kelvara Demo Setup: Kelvara Demo has been removed from your computer, except for "
            "these, which could not be removed:\n\n" +
                heldFile + "\n\nClose the programs that use them, then remove Kelvara Demo again.",
            first.closing);
  EXPECT_EQ("SETUP.DAT data help kdemo.ini song uninstall.exe uninstall.ini ", EntryNames(folder));
  EXPECT_EQ("notes.txt ", EntryNames(folder + "\\help"));
  EXPECT_TRUE(FileExists(target / "outside.txt"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\Kelvara\\Demo"));
  std::string data;
  EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Kelvara\\Lists", "Path", &data));
  EXPECT_EQ(std::string("a\0\0b\0", 5), data);
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Kelvara\\Demo", "Edition", &data));
  EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Kelvara\\Demo", "Version", &data));
  char ini[64];
  GetPrivateProfileStringA("Settings", NULL, "", ini, sizeof ini, (folder + "\\kdemo.ini").c_str());
  EXPECT_STREQ("Theme", ini);
  EXPECT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key.substr(5), "UninstallString", &data));

  held = CreateFileA((folder + "\\SETUP.DAT").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                     OPEN_EXISTING, 0, NULL);
  Removal second = Remove(folder + "\\uninstall.exe");
  CloseHandle(held);
  EXPECT_EQ("", second.problem);
  EXPECT_EQ("Kelvara Demo Setup: Kelvara Demo has been removed from your computer, except for "
            "these, which could not be removed:\n\n" +
                folder + "\\SETUP.DAT\n",
            second.closing);
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, key.substr(5)));

  Removal third = Remove(folder + "\\uninstall.exe");
  EXPECT_EQ("", third.problem);
  EXPECT_EQ("Kelvara Demo Setup: Kelvara Demo has been removed from your computer.", third.closing);
  EXPECT_EQ("help kdemo.ini song ", EntryNames(folder));
  DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Kelvara");
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\Kelvara");
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, key.substr(5));
}

const char kRecordCase[] = "tests/setupcheck/cases/installs-record";
const char kListKey[] = "Software\\KvsRecord\\Lists";
const std::string kPlantedList = std::string("D:\\Other\0C:\\Tools\0\0", 19);

void SetList(const std::string& path, const std::string& name, const std::string& data) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0,
                                           KEY_ALL_ACCESS, NULL, &key, NULL));
  RegSetValueExA(key, name.c_str(), 0, REG_MULTI_SZ, (const BYTE*)data.data(), (DWORD)data.size());
  RegCloseKey(key);
}

// What was there before the first install stays after the removal, with what the install wrote
// into it: a value a line writes only where absent, a list already holding the string a line
// appends, an INI entry and a file the install replaces, a user's file named like a file of the
// optional group left out. Installed twice, then removed: the machine is the one before, save
// that; the file a target with "/" copied out of the folder stays.
TEST(PlanMatchesInstall, RemovalTakesBackOnlyWhatInstallsMade) {
  Distribution dist;
  CopyTree(SourcePath(kRecordCase), dist.Path());
  TempFolder target("plan-record");
  const std::string folder = target / "Record App";
  PlanChoices choices;
  choices.destination = folder;
  choices.without = {3};
  MachineSetting setting;
  setting.reinstall = true;
  setting.prepare = [&] {
    SetRegistryString(HKEY_CURRENT_USER, "Software\\KvsRecord\\App", "Kept", "old");
    SetList(kListKey, "Path", kPlantedList);
    MakeFolders(folder + "\\extra");
    WritePrivateProfileStringA("Settings", "InstallDir", "old", (folder + "\\app.ini").c_str());
    WritePrivateProfileStringA("Settings", "Theme", "dark", (folder + "\\app.ini").c_str());
    WriteTextFile(folder + "\\RecordApp.exe", "an older program");
    WriteTextFile(folder + "\\extra\\notes.txt", "the user's notes");
  };
  setting.removed = [&] {
    std::string list;
    EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, kListKey, "Path", &list));
    EXPECT_EQ(kPlantedList, list);
    EXPECT_EQ("the user's notes", ReadTextFile(folder + "\\extra\\notes.txt"));
    EXPECT_EQ("readme\n", ReadTextFile(target / "outside.txt")) << "a target leaving the folder";
    EXPECT_FALSE(FileExists(folder + "\\uninstall.ini"));
  };
  setting.forget = [] {
    DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\KvsRecord");
    DeleteRegistryTree(HKEY_LOCAL_MACHINE,
                       "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Record App");
  };
  InstallAndCompare("planted before the install", dist, choices, setting);
}

// uninstall.exe started from the distribution, from a copy of the installed folder and from a
// read-only drive finds no installation of its own there: one message, and nothing changes.
TEST(PlanMatchesInstall, RemovalFromAnotherFolderChangesNothing) {
  Distribution dist;
  CopyTree(SourcePath(kRecordCase), dist.Path());
  ShipUninstaller(dist);
  CheckResult checked;
  CheckDistribution(dist.Path(), kDefaultClusterSize, &checked);
  TempFolder target("plan-elsewhere");
  const std::string folder = target / "Record App";
  ScopedRegistryKey appPath(HKEY_LOCAL_MACHINE, std::string(kAppPaths) + "RecordApp.exe");
  appPath.SetString("Path", folder);
  std::string exe = dist.AddSetupExe();
  CopyFileA(RunOnceProbe::ExePath().c_str(), dist.File("runonce.exe").c_str(), FALSE);
  RunOnceProbe probe;
  SavedRegistryValue grpConv(HKEY_LOCAL_MACHINE, kRunOnce, "GrpConv");
  SavedRegistryValue wrapper(HKEY_LOCAL_MACHINE, kRunOnce, "Wrapper");
  const std::set<std::string> iniFiles = {Lower(folder + "\\app.ini"),
                                          Lower(folder + "\\uninstall.ini")};
  Machine before = TakeSnapshot(iniFiles, false);
  ASSERT_EQ("", Drive(exe, PlanChoices(), checked, folder).problem);
  ASSERT_TRUE(FileExists(folder + "\\uninstall.ini"));
  TempFolder copies("plan-copy");
  CopyTree(folder, copies / "Record App");
  std::vector<std::string> places = {FullPath(dist.Path()), copies / "Record App"};
  const char* readOnly = TestDrive("READONLY_DRIVE");
  bool onReadOnly = readOnly != nullptr && FileExists(std::string(readOnly) + "\\uninstall.exe");
  if (onReadOnly) {
    places.push_back(readOnly);
  }
  for (const std::string& place : places) {
    SCOPED_TRACE(place);
    Machine installed = TakeSnapshot(iniFiles, false);
    Removal removal = Remove(place + "\\uninstall.exe", IDOK);
    EXPECT_EQ("", removal.problem);
    EXPECT_EQ("Record App Setup: There is no installation of Record App in " + place,
              removal.question.substr(0, removal.question.find_last_not_of("\\.") + 1));
    std::vector<std::string> noise(std::begin(kPlatformNoise), std::end(kPlatformNoise));
    EXPECT_EQ("", Joined(WithoutUncertain(
                      Difference(installed, TakeSnapshot(iniFiles, false), iniFiles), noise)));
  }
  Undo(before, TakeSnapshot(iniFiles, false));
  DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\KvsRecord");
  DeleteRegistryTree(HKEY_LOCAL_MACHINE,
                     "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Record App");
  if (!onReadOnly) {
    GTEST_SKIP() << "not run from the read-only drive, which holds no uninstall.exe: "
                 << MissingTestDrivesReason();
  }
}

// A recorded folder that has become a junction or another reparse point is neither entered nor
// removed: what lies behind it is someone else's.
TEST(PlanMatchesInstall, RemovalNeverEntersAReparsePoint) {
  Distribution dist;
  dist.CopyExample();
  TempFolder target("removal-link");
  const std::string folder = target / "Kelvara Demo";
  const std::string elsewhere = target / "elsewhere";
  MakeFolders(folder);
  WriteTextFile(elsewhere + "\\levels.dat", "another program's");
  auto makeLink = (BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD))GetProcAddress(
      GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA");
  if (makeLink != nullptr) {
    makeLink((folder + "\\data").c_str(), elsewhere.c_str(), 1); // a folder's link
  }
  DWORD attributes = GetFileAttributesA((folder + "\\data").c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "this system made no folder link here (Wine 10.0 makes none)";
  }
  CopyFileA(UninstallExePath().c_str(), (folder + "\\uninstall.exe").c_str(), FALSE);
  CopyFileA(dist.File("SETUP.DAT").c_str(), (folder + "\\SETUP.DAT").c_str(), FALSE);
  WriteDemoRecord(folder, {"[Files]", "data\\levels.dat", "uninstall.exe", "SETUP.DAT", "[Folders]",
                           "data", "."});
  Removal removal = Remove(folder + "\\uninstall.exe");
  EXPECT_EQ("", removal.problem);
  EXPECT_EQ("levels.dat ", EntryNames(elsewhere));
  EXPECT_EQ("data ", EntryNames(folder));
  RemoveDirectoryA((folder + "\\data").c_str());
}

// Every case of the checker's that installs (no error), with its own default destination.
TEST(PlanMatchesInstall, CheckerCases) {
  const std::string cases = SourcePath("tests/setupcheck/cases");
  std::vector<std::string> names;
  ForEachEntry(cases, [&](const WIN32_FIND_DATAA& entry) {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      names.push_back(entry.cFileName);
    }
  });
  std::sort(names.begin(), names.end());
  int installed = 0;
  for (const std::string& name : names) {
    CheckResult checked;
    CheckDistribution(cases + "\\" + name, kDefaultClusterSize, &checked);
    // A case written in another code page installs under that one (DoubleByteCodePage).
    if (CountErrors(checked) > 0 || name.compare(0, 9, "codepage-") == 0) {
      continue;
    }
    Distribution dist;
    CopyTree(cases + "\\" + name, dist.Path());
    MachineSetting setting;
    setting.runOnceSetupKey = installed % 2 == 0;
    setting.layersEntry = installed % 3 == 0;
    InstallAndCompare("case " + name, dist, PlanChoices(), setting);
    ++installed;
  }
  EXPECT_GE(installed, 8);
}

// A first SETUP.DAT written by setupcheck --init for a tree of files and uninstall.exe checks
// clean; the install it plans, and makes, copies every file of the tree and registers the
// Uninstall entry, and uninstall.exe removes it all again.
TEST(PlanMatchesInstall, FirstSetupDatInstallsEveryFile) {
  Distribution dist;
  const std::vector<std::string> files = {"Tree.exe",
                                          "readme.txt",
                                          "docs\\Guide, v2.txt",
                                          "docs\\Notes And More.txt",
                                          "data\\levels\\1.dat",
                                          "data\\x;y=%1%.dat",
                                          "[odd].txt",
                                          "data\\Z.TXT"};
  for (const std::string& file : files) {
    dist.AddFile(file, "contents of " + file);
  }
  CopyFileA(UninstallExePath().c_str(), dist.File("uninstall.exe").c_str(), FALSE);
  const char* checker = getenv("SETUPCHECK");
  ASSERT_NE(nullptr, checker);
  std::string command = "\"" + (checker[0] == '/' ? WindowsPath(checker) : std::string(checker)) +
                        "\" --init --app \"Tree App\" --exe Tree \"" + dist.Path() + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  ASSERT_TRUE(
      CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
  DWORD exitCode = 99;
  WaitForSingleObject(process.hProcess, kRunTimeoutMs);
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(0u, exitCode);

  CheckResult checked;
  CheckDistribution(dist.Path(), kDefaultClusterSize, &checked);
  EXPECT_TRUE(checked.findings.empty()) << checked.findings[0].text;
  TempFolder target("plan-init");
  PlanChoices choices;
  choices.destination = target / "Tree App";
  Plan plan;
  std::string problem;
  ASSERT_TRUE(MakePlan(checked, dist.Path(), choices, &plan, &problem)) << problem;
  std::set<std::string> sources;
  for (const PlanStep& step : plan.steps) {
    if (step.kind == kStepFile) {
      sources.insert(step.text);
    }
  }
  std::set<std::string> shipped(files.begin(), files.end());
  shipped.insert({"uninstall.exe", "SETUP.DAT"});
  EXPECT_EQ(shipped, sources);
  const std::string entry =
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tree App";
  std::string uninstallString;
  for (const PlanStep& step : plan.steps) {
    uninstallString +=
        step.kind == kStepValue && step.path == entry && step.name == "UninstallString" ? step.data
                                                                                        : "";
  }
  EXPECT_EQ("\"" + (target / "Tree App") + "\\uninstall.exe\"" + std::string(1, '\0'),
            uninstallString);
  InstallAndCompare("setupcheck --init", dist, choices, MachineSetting());
}

// A SETUP.DAT in code page 932, installed on a system whose ANSI code page is 932: target names
// whose second byte is "\" (ソ 83 5C, 表 95 5C) or an ASCII letter (ア 83 41, ヂ 83 61) land
// in their own folders inside the destination, as setupcheck --codepage 932 plans them.
TEST(PlanMatchesInstall, DoubleByteCodePage) {
  const std::string missing = MissingLocale("ja_JP.UTF-8", 932);
  if (!missing.empty()) {
    GTEST_SKIP() << missing;
  }
  std::string problem;
  ASSERT_TRUE(SelectCodePage(932, &problem)) << problem;
  Distribution dist;
  CopyTree(SourcePath("tests/setupcheck/cases/codepage-932"), dist.Path());
  MachineSetting setting;
  setting.layersEntry = true;
  InstallAndCompare("code page 932", dist, PlanChoices(), setting);
}

// ---- Generated distributions ------------------------------------------------------------------

// Numbers from a seed: a counter through a 32-bit mixing function, so that neighbouring seeds
// make unrelated distributions.
class Random {
public:
  explicit Random(unsigned seed) : state_(seed) {}
  unsigned Below(unsigned n) {
    state_ += 0x9E3779B9u;
    uint32_t z = state_;
    z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
    z = (z ^ (z >> 13)) * 0xC2B2AE35u;
    z ^= z >> 16;
    return z % n;
  }
  bool Chance(unsigned percent) {
    return Below(100) < percent;
  }
  template <typename T> const T& Pick(const std::vector<T>& items) {
    return items[Below((unsigned)items.size())];
  }

private:
  uint32_t state_;
};

struct Generated {
  std::string name;
  PlanChoices choices;
  MachineSetting setting;
};

// A distribution of a few groups of files in a few folders, optional groups, cached sizes, and a
// default_install of INI entries and registry lines of every kind, some of them meeting values
// that are already there. Destinations: [KVSetup] Path, "C:\" and APPNAME, or one chosen.
Generated Generate(unsigned seed, const Distribution& dist, const TempFolder& sandbox) {
  Random random(seed);
  Generated out;
  const std::string n = std::to_string(seed);
  const std::string app = "Gen App " + n;
  const std::string exe = "GenApp" + n;
  const std::string vendor = "KvsPlanGen";
  const std::string appKey = "Software\\" + vendor + "\\App" + n;
  out.name = "generated " + n;

  std::string kvsetup = "Title=" + app + " Setup\n";
  unsigned destinationKind = random.Below(3);
  std::string destination = "C:\\" + app;
  if (destinationKind == 0) {
    MakeFolders(sandbox / "dest");
    destination = sandbox / ("dest\\" + app);
    kvsetup += "Path=" + destination + "\n";
  } else if (destinationKind == 2) {
    MakeFolders(sandbox / "chosen");
    destination = sandbox / ("chosen\\" + app);
    out.choices.destination = destination;
  }

  const std::vector<std::string> folders = {
      "", "", "bin", "data\\levels", "Docs And Notes", "deep\\a\\b", "Caf\xe9"};
  const std::vector<std::string> words = {"readme", "Setup Notes", "level-1", "MAP_02",
                                          "x",      "licence",     "a.b.c",   "Z"};
  const std::vector<std::string> extensions = {".txt", ".dat", ".BIN", "", ".ini"};
  std::vector<std::string> sources;
  auto newSource = [&]() {
    std::string folder = random.Pick(folders);
    std::string file =
        random.Pick(words) + std::to_string(sources.size()) + random.Pick(extensions);
    std::string path = folder.empty() ? file : folder + "\\" + file;
    size_t length = random.Chance(15) ? 4096 * (1 + random.Below(3)) : random.Below(9000);
    std::string contents;
    for (size_t i = 0; i < length; ++i) {
      contents.push_back((char)('A' + random.Below(26)));
    }
    dist.AddFile(path, contents);
    sources.push_back(path);
    return path;
  };
  newSource();
  dist.AddFile(exe + ".exe", "program " + n);

  unsigned groupCount = 1 + random.Below(5);
  std::string sections;
  std::vector<std::string> targets;
  int options = 0;
  for (unsigned g = 1; g <= groupCount; ++g) {
    std::string number = std::to_string(g);
    std::string section = "G" + number + ".Files";
    kvsetup += "Group" + number + "=" + (random.Chance(20) ? Lower(section) : section) + "\n";
    kvsetup += "Description" + number + "=Copying part " + number + "...\n";
    if (options < 2 && random.Chance(35)) {
      kvsetup += "Option" + number + "=Part " + number + "\n";
      ++options;
      if (random.Chance(40)) {
        out.choices.without.push_back((int)g);
      }
    }
    if (random.Chance(25)) {
      kvsetup += "Size" + number + "=" + std::to_string(1000 + random.Below(90000)) + "\n";
    }
    sections += "[" + section + "]\n";
    if (g == 1) {
      sections += exe + ".exe\n";
      targets.push_back(exe + ".exe");
    }
    unsigned lines = 1 + random.Below(6);
    for (unsigned l = 0; l < lines; ++l) {
      std::string source = random.Chance(60) ? newSource() : random.Pick(sources);
      std::string target = source;
      if (!targets.empty() && random.Chance(10)) {
        target = random.Pick(targets); // named again: the later copy wins
        for (char& c : target) {
          c = random.Chance(50) ? (char)toupper((unsigned char)c) : c;
        }
      } else if (random.Chance(30)) {
        std::string folder = random.Pick(folders);
        std::string file = "renamed" + std::to_string(targets.size()) + ".txt";
        target = folder.empty() ? file : folder + "\\" + file;
      }
      targets.push_back(target);
      sections += target == source ? target + "\n" : target + "," + source + "\n";
    }
  }

  // A file already at a target in a destination that is already there: replaced.
  if (destinationKind != 1 && random.Chance(30)) {
    MakeFolders(destination);
    WriteTextFile(destination + "\\" + exe + ".exe", "an older program");
  }

  std::string reg = "[Gen.Reg]\n";
  std::vector<std::pair<std::string, std::string>> existing; // (subkey, value) there before
  const std::string key = "HKCU," + appKey;
  const struct {
    const char* line;
    const char* existing; // a value made before the run, in the app's key
  } kLines[] = {
      {",InstallDir,,%65600%", nullptr},
      {",Vendor,,\"%VENDOR% Ltd\"", nullptr},
      {"\\Settings,Count,0x10001,42", nullptr},
      {"\\Settings,Mask,0x00010001,0xFF00", nullptr},
      {"\\Settings,Negative,0x10001,-1", nullptr},
      {",Expand,0x20000,\"%%TEMP%%\\cache;%65600%\"", nullptr},
      {",List,0x10000,\"one\",two,%65600%", nullptr},
      {",Blob,1,de,ad,be,ef", nullptr},
      {",Bytes,0x10001,01,02,03,04", nullptr},
      {",,,\"the default value\"", nullptr},
      {"\\Empty,,0x10", nullptr},
      {",Kept,2,new", "Kept"},
      {",Fresh,2,new", nullptr},
      {",Over,0x20,new", "Over"},
      {",Absent,0x20,new", nullptr},
      {",Gone,4", "Gone"},
      {"\\Temp,,4", nullptr}, // the whole key
      {"\\Settings,Decimal,65537,7", nullptr},
      {",NoData", nullptr},
  };
  for (const auto& line : kLines) {
    if (random.Chance(55)) {
      reg += key + line.line + "\n";
      if (line.existing != nullptr) {
        existing.push_back({appKey, line.existing});
      }
    }
  }
  if (random.Chance(40)) {
    reg += "HKLM,Software\\" + vendor + "\\App" + n + ",Version,,\"1." + n + "\"\n";
  }
  if (random.Chance(20)) {
    reg += "HKR,Software\\Skipped,Value,,1\nHKXX,Software\\Skipped,Value,,1\n";
  }
  // DelReg comes before AddReg: a value deleted here and written there is there at the end.
  std::string del = "[Gen.Del]\n" + key + "\\Old,Obsolete\n" + key + "\\OldTree\n" + key +
                    ",InstallDir\n" + key + ",Vendor,0x8000\n";
  existing.push_back({appKey + "\\Old", "Obsolete"});
  existing.push_back({appKey + "\\Old", "Stays"});
  existing.push_back({appKey + "\\OldTree\\Sub", "Value"});
  existing.push_back({appKey + "\\Temp", "Value"});
  std::string ini = "[Gen.Ini]\n%65600%\\app.ini,Settings,,\"InstallDir=%65600%\"\n"
                    "kvsplan" +
                    n + ".ini,Gen,,\"Seed=" + n +
                    "\"\n"
                    "%65600%\\app.ini,Settings,,\"Count = 3 \"\n"
                    "%65600%\\app.ini,Other,,Plain\n"
                    "%65600%\\bin\\tools.ini,Paths,,\"Bin=%65600%\\bin\"\n";

  std::string install = "[default_install]\nAddReg=Gen.Reg\n";
  bool deleting = random.Chance(50);
  bool inis = random.Chance(70);
  if (deleting) {
    install += "DelReg=Gen.Del\n";
  }
  if (inis) {
    install += "UpdateInis=Gen.Ini\n";
  }
  out.name += std::string(" (") +
              (destinationKind == 0   ? "Path"
               : destinationKind == 1 ? "C:\\ and APPNAME"
                                      : "chosen") +
              ", " + std::to_string(groupCount) + " groups, " + std::to_string(options) +
              " optional, " + std::to_string(out.choices.without.size()) + " cleared" +
              (deleting ? ", DelReg" : "") + (inis ? ", UpdateInis" : "") + ")";
  dist.SetSetupDat("[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=" + app +
                   "\nEXENAME=" + exe + "\nVENDOR=Gen Vendor " + n + "\n[KVSetup]\n" + kvsetup +
                   sections + install + reg + (deleting ? del : "") + (inis ? ini : ""));

  out.setting.runOnceSetupKey = random.Chance(50);
  out.setting.layersEntry = random.Chance(50);
  out.setting.prepare = [existing]() {
    for (const auto& [subkey, value] : existing) {
      SetRegistryString(HKEY_CURRENT_USER, subkey, value, "old");
    }
  };
  out.setting.forget = [vendor]() {
    DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\" + vendor);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\" + vendor);
  };
  return out;
}

// A few in the suite; KVS_PLAN_DISTRIBUTIONS=N for a longer run of seeds 1 to N.
TEST(PlanMatchesInstall, GeneratedDistributions) {
  const char* count = getenv("KVS_PLAN_DISTRIBUTIONS");
  unsigned total = count != nullptr ? (unsigned)atoi(count) : 3;
  std::string failed;
  DWORD start = GetTickCount();
  for (unsigned seed = 1; seed <= total; ++seed) {
    Distribution dist;
    TempFolder sandbox("plan-gen");
    Generated generated = Generate(seed, dist, sandbox);
    const testing::TestResult* result =
        testing::UnitTest::GetInstance()->current_test_info()->result();
    int failuresBefore = result->total_part_count();
    InstallAndCompare(generated.name, dist, generated.choices, generated.setting);
    if (result->total_part_count() != failuresBefore) {
      failed += " " + std::to_string(seed);
    }
  }
  printf("[plan] %u generated distributions in %lu s; failed:%s\n", total,
         (GetTickCount() - start) / 1000, failed.empty() ? " none" : failed.c_str());
}

} // namespace
