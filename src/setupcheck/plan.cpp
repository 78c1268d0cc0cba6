#include "plan.h"

#include <ctype.h>

#include <algorithm>
#include <iterator>
#include <set>

#include "file_system.h"
#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace {

const size_t kLineBuffer = 256;   // the copy's line, source and target texts
const size_t kWorkBuffer = 512;   // the copy's scratch for joined paths
const size_t kQuotedSource = 128; // the source name kept for the failure message
const size_t kNameBuffer = 256;   // link and compatibility-entry names
const long kDestinationId = 65600;
const size_t kRegistryText = 4096; // the Setup API reads registry fields into this many characters
const char kRefusedName[] = "a name with a character Windows refuses (:*?\"<>|): there the copy "
                            "fails and setup.exe stops; Wine makes the file";

const char kRunOnce[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kLayers[] =
    "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

// Registry line flags of AddReg and DelReg.
const int32_t kBinaryValueType = 0x1;
const int32_t kNoClobber = 0x2;
const int32_t kDeleteValue = 0x4;
const int32_t kAppend = 0x8;
const int32_t kKeyOnly = 0x10;
const int32_t kOverwriteOnly = 0x20;
const int32_t kKeyView64 = 0x1000;
const int32_t kKeyOnlyCommon = 0x2000;
const int32_t kKeyView32 = 0x4000;
const int32_t kDeleteRegBit = 0x8000;
const int32_t kMultiSzDeleteString = 0x18002;
const uint32_t kTypeMask = 0xFFFF0001u;

enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegLink = 6,
  kRegMultiSz = 7,
};

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string Trimmed(const std::string& text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && IsBlank(text[start])) {
    ++start;
  }
  while (end > start && IsBlank(text[end - 1])) {
    --end;
  }
  return text.substr(start, end - start);
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) {
      return false;
    }
  }
  return true;
}

// A directory id left after substitution (%10%, %11%, ...): the platform puts a folder of the
// machine in its place.
bool HasDirectoryId(const std::string& text) {
  for (size_t start = text.find('%'); start != std::string::npos;
       start = text.find('%', start + 1)) {
    size_t end = text.find_first_not_of("0123456789", start + 1);
    if (end != std::string::npos && end > start + 1 && text[end] == '%') {
      return true;
    }
  }
  return false;
}

const char kDirectoryId[] = "a directory id stands for a folder of the machine";

// A number as the C library's strtol and strtoul read it with base 0: blanks, a sign, "0x" for
// hex, a leading "0" for octal. *end is where the digits stopped; the magnitude saturates.
uint64_t ReadNumber(const std::string& text, size_t* end, bool* negative, bool* overflow) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) {
    ++i;
  }
  *negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    *negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      i + 2 < text.size() && isxdigit((unsigned char)text[i + 2])) {
    base = 16;
    i += 2;
  } else if (i < text.size() && text[i] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  *overflow = false;
  size_t start = i;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : 99;
    if (digit >= base) {
      break;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFull) {
      *overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  *end = i == start && base != 8 ? 0 : i;
  return value;
}

// SetupGetIntField: an empty field is 0; anything but a whole number fails.
bool IntField(const std::string& text, int32_t* value) {
  if (text.empty()) {
    *value = 0;
    return true;
  }
  size_t end = 0;
  bool negative = false;
  bool overflow = false;
  uint64_t magnitude = ReadNumber(text, &end, &negative, &overflow);
  if (end == 0 || end != text.size()) {
    return false;
  }
  if (negative) {
    *value = magnitude > 0x80000000ull ? INT32_MIN : (int32_t)(0 - magnitude);
  } else {
    *value = magnitude > 0x7FFFFFFFull ? INT32_MAX : (int32_t)magnitude;
  }
  return true;
}

// wcstoul with base 0: what the Setup API stores for a REG_DWORD given as text.
uint32_t UnsignedValue(const std::string& text) {
  size_t end = 0;
  bool negative = false;
  bool overflow = false;
  uint64_t magnitude = ReadNumber(text, &end, &negative, &overflow);
  if (end == 0) {
    return 0;
  }
  if (overflow) {
    return 0xFFFFFFFFu;
  }
  return negative ? (uint32_t)(0 - (uint32_t)magnitude) : (uint32_t)magnitude;
}

std::string Dword(uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) {
    data[i] = (char)((value >> (8 * i)) & 0xFF);
  }
  return data;
}

// The text in the UTF-16 bytes the Setup API stores for a type it does not read as text.
std::string Utf16Bytes(const std::string& text) {
  std::string data;
  for (char c : text) {
    data.push_back(c);
    data.push_back('\0');
  }
  return data;
}

class Planner {
public:
  Planner(const CheckResult& checked, const std::string& folder, const PlanChoices& choices,
          Plan* plan)
      : checked_(checked), folder_(folder), choices_(choices), plan_(plan), inf_(checked.inf) {}

  bool Run(std::string* problem);

private:
  bool ChooseDestination(std::string* problem);
  bool ChooseGroups(std::string* problem);
  void PlanSizes();
  bool PlanCopy(std::string* problem);
  void PlanInstallSection();
  void PlanIniLine(const InfLine& line);
  void PlanRegistryLine(const InfLine& line, bool deleting);
  void PlanFinishing();
  PlanStep& Add(StepKind kind, const std::string& path, int line) {
    PlanStep step;
    step.kind = kind;
    step.path = path;
    step.line = line;
    plan_->steps.push_back(step);
    return plan_->steps.back();
  }
  // Field N (from 1) of a line after substitution, as SetupGetStringField gives it.
  bool Field(const InfLine& line, size_t n, std::string* text) const {
    if (n == 0 || n > line.fields.size()) {
      return false;
    }
    *text = SubstituteField(inf_, line.fields[n - 1]);
    return true;
  }
  // Whether the install leaves folder in place: made on the way to a file, or the destination
  // once a file is copied into it.
  bool FolderMade(std::string folder) const {
    std::string destination = LowerAscii(plan_->destination);
    folder = LowerAscii(folder);
    for (std::string* path : {&folder, &destination}) {
      if (path->size() > 1 && path->back() == '\\') {
        path->pop_back();
      }
    }
    return std::find(createdFolders_.begin(), createdFolders_.end(), folder) !=
               createdFolders_.end() ||
           (folder == destination && copiesFiles_);
  }
  // The sections named by every KEY= line of default_install, in order.
  std::vector<const InfSection*> NamedSections(const char* key) const;

  const CheckResult& checked_;
  std::string folder_;
  const PlanChoices& choices_;
  Plan* plan_;
  InfFile inf_;
  std::vector<std::string> createdFolders_; // lower case, to list each once
  std::set<std::string> createdKeys_;       // lower case, to list each once
  bool writesMachineKeys_ = false;
  bool copiesFiles_ = false;
};

bool Planner::ChooseDestination(std::string* problem) {
  if (!choices_.destination.empty()) {
    if (choices_.destination.size() < 3 || choices_.destination.size() > 259) {
      *problem = "--destination needs a folder of 3 to 259 characters";
      return false;
    }
    plan_->destination = choices_.destination;
    plan_->destinationFrom = "the destination page (--destination)";
  } else if (!checked_.path.empty()) {
    plan_->destination = checked_.path;
    plan_->destinationFrom = "[KVSetup] Path (line " + Number(checked_.pathLine) + ")";
  } else {
    plan_->destination = "C:\\" + checked_.appName;
    plan_->destinationFrom = "\"C:\\\" and [Strings] APPNAME: SETUP.DAT has no [KVSetup] Path";
  }
  const std::string& destination = plan_->destination;
  if (choices_.destination.empty()) {
    plan_->machine.push_back(
        "an earlier installation registered as the \"Path\" value of HKLM\\SOFTWARE\\Microsoft\\"
        "Windows\\CurrentVersion\\App Paths\\" +
        checked_.exeName + ".exe is the default destination instead");
  }
  size_t parentEnd = destination.find_last_of('\\');
  if (destination.back() != '\\' && parentEnd != std::string::npos && parentEnd > 2) {
    plan_->machine.push_back("the folder " + destination.substr(0, parentEnd) +
                             " must exist: setup.exe creates only the last level of the "
                             "destination, and the copy fails without it");
  }
  inf_.boundIds[kDestinationId] = destination;
  return true;
}

bool Planner::ChooseGroups(std::string* problem) {
  // The options page offers the first two OptionN read, the list's end included.
  std::vector<int> offered(checked_.options.begin(),
                           checked_.options.begin() + std::min<size_t>(2, checked_.options.size()));
  for (int n : choices_.without) {
    if (std::find(offered.begin(), offered.end(), n) == offered.end()) {
      *problem = "--without " + Number(n) + ": group " + Number(n) + " is not an optional group";
      if (!offered.empty()) {
        std::string list;
        for (int m : offered) {
          list += (list.empty() ? "" : " and ") + Number(m);
        }
        *problem += " (the optional groups are " + list + ")";
      }
      return false;
    }
  }
  for (const LoadedGroup& loaded : checked_.groups) {
    PlanGroup group;
    group.number = loaded.number;
    group.section = loaded.section;
    group.description = loaded.description;
    group.option = loaded.option;
    group.selected = std::find(choices_.without.begin(), choices_.without.end(), loaded.number) ==
                     choices_.without.end();
    group.files = 0;
    group.bytes = loaded.cachedSize;
    group.measured = false;
    for (const MeasuredSize& size : checked_.sizes) {
      if (size.group == loaded.number && loaded.cachedSize == 0) {
        group.bytes = size.bytes;
        group.measured = true;
      }
    }
    plan_->groups.push_back(group);
  }
  return true;
}

// Every group, selected or not, is measured on each pass through the options step; a group with
// a SizeN is not.
void Planner::PlanSizes() {
  for (const PlanGroup& group : plan_->groups) {
    if (!group.measured) {
      continue;
    }
    PlanStep& step = Add(kStepSize, "sizes.txt", 0);
    step.base = kBaseSetupFolder;
    step.section = "KVSetup";
    step.name = "Size" + Number(group.number);
    step.text = Number(group.bytes);
    step.group = group.number;
  }
}

// The copy, line by line, with the folders it makes on the way: the same texts, splits and
// limits as the copy itself, so a plan is only made for lines that copy.
bool Planner::PlanCopy(std::string* problem) {
  const std::string& destination = plan_->destination;
  for (PlanGroup& group : plan_->groups) {
    int index = FindInfSection(inf_, group.section.c_str());
    if (!group.selected || index < 0) {
      continue;
    }
    char previous[kLineBuffer] = "";
    bool foldersBegun = false;
    for (const InfLine& line : inf_.sections[index].lines) {
      std::string text = InfLineText(inf_, line);
      if (text.size() > kLineTextLimit) {
        break; // the copy reads no further in this group
      }
      char target[kLineBuffer];
      char source[kLineBuffer];
      SplitGroupLine(text.c_str(), target, sizeof target, source, sizeof source);
      char quoted[kQuotedSource];
      char work[kWorkBuffer];
      char targetPath[kLineBuffer];
      int fits = CopyText(quoted, sizeof quoted, source);
      fits &= JoinPathOnce(work, sizeof work, destination.c_str(), target);
      fits &= CopyText(targetPath, sizeof targetPath, work);
      if (!fits) {
        *problem = "SETUP.DAT:" + Number(line.lineNumber) + ": the target path " + work +
                   " is longer than 255 characters: the copy fails";
        return false;
      }
      // The folders on the way, from the destination's last level on the first pass of a group
      // and below it afterwards, made whenever a line's folder differs from the line before.
      char current[kLineBuffer];
      CopyText(current, sizeof current, targetPath);
      CutAtLastSeparator(current);
      if (!EqualIgnoringAsciiCase(current, previous)) {
        size_t start = destination.size() + (foldersBegun ? 1 : 0);
        size_t length = std::string(targetPath).size();
        for (size_t i = start; i < length; ++i) {
          if (targetPath[i] != '\\') {
            continue;
          }
          std::string folder(targetPath, i);
          if (std::find(createdFolders_.begin(), createdFolders_.end(), LowerAscii(folder)) ==
              createdFolders_.end()) {
            createdFolders_.push_back(LowerAscii(folder));
            Add(kStepFolder, folder, line.lineNumber).group = group.number;
          }
        }
        foldersBegun = true;
      }
      CopyText(previous, sizeof previous, current);

      int64_t size = 0;
      FindBelow(folder_, source, &size);
      std::string name = std::string(targetPath).substr(destination.size());
      if (name.find_first_of(":*?\"<>|") != std::string::npos) {
        // Wine makes such names; Windows refuses them, and the copy fails there.
        for (size_t i = plan_->steps.size(); i > 0 && plan_->steps[i - 1].line == line.lineNumber;
             --i) {
          plan_->steps[i - 1].machine = kRefusedName;
        }
      }
      PlanStep& step = Add(kStepFile, targetPath, line.lineNumber);
      if (name.find_first_of(":*?\"<>|") != std::string::npos) {
        step.machine = kRefusedName;
      }
      step.text = source;
      step.size = size;
      step.group = group.number;
      ++group.files;
      copiesFiles_ = true;
    }
  }
  return true;
}

std::vector<const InfSection*> Planner::NamedSections(const char* key) const {
  std::vector<const InfSection*> named;
  int index = FindInfSection(inf_, "default_install");
  if (index < 0) {
    return named;
  }
  for (const InfLine& line : inf_.sections[index].lines) {
    if (!line.hasKey || LowerAscii(line.key) != LowerAscii(key)) {
      continue;
    }
    for (const std::string& field : line.fields) {
      int section = FindInfSection(inf_, SubstituteField(inf_, field).c_str());
      if (section >= 0) {
        named.push_back(&inf_.sections[section]);
      }
    }
  }
  return named;
}

// UpdateInis: file, section, old entry, "key=value". A file named without a folder is the
// Windows folder's.
void Planner::PlanIniLine(const InfLine& line) {
  std::string file;
  std::string section;
  std::string entry;
  if (!Field(line, 1, &file) || !Field(line, 2, &section) || !Field(line, 4, &entry)) {
    return;
  }
  size_t equals = entry.find('=');
  std::string key = Trimmed(entry.substr(0, equals));
  std::string value = equals == std::string::npos ? "" : Trimmed(entry.substr(equals + 1));
  PlanStep& step = Add(kStepIni, file, line.lineNumber);
  step.section = Trimmed(section);
  step.name = key;
  step.text = value;
  if (file.find_first_of("\\/") == std::string::npos) {
    step.base = kBaseWindows;
  }
  std::string old;
  std::string flags;
  if (HasDirectoryId(file + section + entry)) {
    step.machine = kDirectoryId;
  } else if ((Field(line, 3, &old) && !old.empty()) || (Field(line, 5, &flags) && !flags.empty())) {
    step.machine = "an old entry or flags given: what the platform does with them differs";
  } else if (key.empty() || step.section.empty()) {
    step.machine = "an empty section or key name: what the platform writes differs";
  } else if (step.base == kBaseNone) {
    std::string folder = file.substr(0, file.find_last_of("\\/"));
    if (!FolderMade(folder)) {
      step.machine = "written only where the folder " + folder + " exists";
    }
  }
}

// One AddReg or DelReg line, as the Setup API carries it out.
void Planner::PlanRegistryLine(const InfLine& line, bool deleting) {
  std::string rootName;
  if (!Field(line, 1, &rootName)) {
    return;
  }
  std::string root = LowerAscii(rootName);
  const char* rootKey = root == "hkcr"   ? "HKCR"
                        : root == "hkcu" ? "HKCU"
                        : root == "hklm" ? "HKLM"
                        : root == "hku"  ? "HKU"
                                         : nullptr;
  if (rootKey == nullptr) {
    return; // HKR has no key root here, and other roots are unknown: the line is skipped
  }
  std::string subkey;
  Field(line, 2, &subkey);
  int32_t flags = 0;
  std::string flagText;
  if (!Field(line, 4, &flagText) || !IntField(flagText, &flags)) {
    flags = 0;
  }
  if (!deleting && (flags & kDeleteRegBit)) {
    return;
  }
  if (deleting) {
    if (flags == 0) {
      flags = kDeleteRegBit;
    } else if (!(flags & kDeleteRegBit)) {
      return;
    }
  }
  std::string key = std::string(rootKey) + (subkey.empty() ? "" : "\\" + subkey);
  std::string name;
  Field(line, 3, &name);

  std::string machine;
  if (root == "hkcr" || root == "hku") {
    machine = "HKCR and HKU keys lie where the machine's registry puts them";
  } else if (flags < 0 || (uint32_t)flags >> 16 == kRegLink) {
    machine = "flags the platform reads its own way";
  } else if (HasDirectoryId(subkey + name)) {
    machine = kDirectoryId;
  } else if (flags & (kKeyView64 | kKeyView32)) {
    machine = "a 64-bit or 32-bit registry view asked for";
  } else if (subkey.size() >= kRegistryText || name.size() >= kRegistryText ||
             (!subkey.empty() && (subkey.front() == '\\' || subkey.back() == '\\' ||
                                  subkey.find("\\\\") != std::string::npos))) {
    machine = "a key path the platform may refuse";
  }
  if (root == "hklm") {
    writesMachineKeys_ = true;
  }
  bool mustExist = deleting || (flags & kOverwriteOnly);
  if (!mustExist && createdKeys_.insert(LowerAscii(key)).second) {
    Add(kStepKey, key, line.lineNumber).machine = machine;
  }
  auto finish = [&](PlanStep& step) -> PlanStep& {
    if (mustExist) {
      step.requiredKey = key;
    }
    step.machine = machine;
    return step;
  };

  if (flags & (kDeleteRegBit | kDeleteValue)) {
    if (!name.empty() && !(flags & kKeyOnlyCommon)) {
      PlanStep& step = finish(Add(kStepDeleteValue, key, line.lineNumber));
      step.name = name;
      if ((flags & kMultiSzDeleteString) == kMultiSzDeleteString) {
        step.machine = "removes one string from a list: the rest depends on the list there";
      }
    } else {
      finish(Add(kStepDeleteKey, key, line.lineNumber));
      std::string gone = LowerAscii(key);
      for (auto it = createdKeys_.begin(); it != createdKeys_.end();) {
        bool below = *it == gone || it->compare(0, gone.size() + 1, gone + "\\") == 0;
        it = below ? createdKeys_.erase(it) : std::next(it);
      }
    }
    return;
  }
  if (flags & (kKeyOnly | kKeyOnlyCommon)) {
    return;
  }

  uint32_t type;
  switch ((uint32_t)flags & kTypeMask) {
  case 0x00000000u:
    type = kRegSz;
    break;
  case 0x00010000u:
    type = kRegMultiSz;
    break;
  case 0x00020000u:
    type = kRegExpandSz;
    break;
  case 0x00000001u:
    type = kRegBinary;
    break;
  case 0x00010001u:
    type = kRegDword;
    break;
  case 0x00020001u:
    type = kRegNone;
    break;
  default:
    type = (uint32_t)flags >> 16;
    break;
  }

  std::string data;
  bool written = true;
  if (!(flags & kBinaryValueType) || (type == kRegDword && line.fields.size() == 5)) {
    if (type == kRegMultiSz) {
      // Fields from the fifth on, up to the first empty one.
      std::vector<std::string> strings;
      std::string text;
      for (size_t n = 5; Field(line, n, &text) && !text.empty(); ++n) {
        strings.push_back(text);
      }
      if (flags & kAppend) {
        written = !strings.empty();
        machine = "appended to the list already there";
      }
      for (const std::string& s : strings) {
        data += s + '\0';
      }
      data += '\0';
      if (strings.empty()) {
        data = std::string(1, '\0');
      }
    } else {
      std::string text;
      bool given = Field(line, 5, &text);
      if (type == kRegDword) {
        data = Dword(given ? UnsignedValue(text) : 0);
      } else if (type == kRegSz || type == kRegExpandSz) {
        data = text + '\0';
      } else {
        data = Utf16Bytes(text + '\0');
        if (!IsAscii(text)) {
          machine =
              "text in a type the platform stores as UTF-16: its bytes depend on the code page";
        }
      }
    }
  } else {
    // Two hex digits a field, from the fifth on, taken as written.
    for (size_t n = 5; n <= line.fields.size(); ++n) {
      const std::string& field = line.fields[n - 1];
      uint32_t value = 0;
      for (char c : field) {
        if (!isxdigit((unsigned char)c)) {
          break;
        }
        value <<= 4;
        if (value > 255) {
          machine = "a byte of more than two hex digits: the platform stores no defined data";
          break;
        }
        value |= (uint32_t)(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
      }
      data.push_back((char)value);
    }
  }
  if (!written) {
    return;
  }
  if (HasDirectoryId(data) && machine.empty()) {
    machine = kDirectoryId;
  }
  PlanStep& step = finish(Add(kStepValue, key, line.lineNumber));
  step.name = name;
  step.type = type;
  step.data = data;
  if (flags & kNoClobber) {
    step.valueCondition = kOnlyIfAbsent;
  } else if (flags & kOverwriteOnly) {
    step.valueCondition = kOnlyIfPresent;
  }
  if ((flags & kNoClobber) && (flags & kOverwriteOnly)) {
    plan_->steps.pop_back(); // absent and present at once: never written
  }
}

// default_install with only its INI and registry operations: UpdateInis, then UpdateIniFields,
// then DelReg, then AddReg.
void Planner::PlanInstallSection() {
  for (const InfSection* section : NamedSections("UpdateInis")) {
    for (const InfLine& line : section->lines) {
      PlanIniLine(line);
    }
  }
  for (const InfSection* section : NamedSections("UpdateIniFields")) {
    for (const InfLine& line : section->lines) {
      std::string file;
      std::string iniSection;
      if (Field(line, 1, &file) && Field(line, 2, &iniSection)) {
        PlanStep& step = Add(kStepIni, file, line.lineNumber);
        step.section = iniSection;
        step.machine = "UpdateIniFields: carried out by Windows' Setup API, ignored by Wine's";
        if (file.find_first_of("\\/") == std::string::npos) {
          step.base = kBaseWindows;
        }
      }
    }
  }
  for (bool deleting : {true, false}) {
    for (const InfSection* section : NamedSections(deleting ? "DelReg" : "AddReg")) {
      for (const InfLine& line : section->lines) {
        PlanRegistryLine(line, deleting);
      }
    }
  }
}

void Planner::PlanFinishing() {
  const std::string& destination = plan_->destination;
  char target[kNameBuffer];
  bool targetFits = FormatText(target, sizeof target, "%s\\%s.exe", destination.c_str(),
                               checked_.exeName.c_str());
  char linkName[kNameBuffer];
  bool nameFits = FormatText(linkName, sizeof linkName, "%s.lnk", checked_.appName.c_str());
  for (PlanBase base : {kBasePrograms, kBaseDesktop}) {
    if (!targetFits || !nameFits) {
      break;
    }
    PlanStep& step = Add(kStepLink, linkName, 0);
    step.base = base;
    step.text = target;
    step.folder = destination;
  }
  // The entry is named by the installed program's full path; a longer name is never deleted.
  if (targetFits) {
    PlanStep& step = Add(kStepDeleteValue, kLayers, 0);
    step.name = target;
    step.requiredKey = kLayers;
  }
  std::string setupKey = std::string(kRunOnce) + "\\Setup";
  PlanStep& wrapper = Add(kStepValue, kRunOnce, 0);
  wrapper.name = "Wrapper";
  wrapper.type = kRegSz;
  wrapper.data = std::string("runonce") + '\0';
  wrapper.requiredKey = setupKey;
  PlanStep& grpConv = Add(kStepValue, kRunOnce, 0);
  grpConv.name = "GrpConv";
  grpConv.type = kRegSz;
  grpConv.data = std::string("grpconv -o") + '\0';
  grpConv.requiredKey = kRunOnce;
  Add(kStepRun, "<system folder>\\runonce.exe -r", 0).requiredKey = kRunOnce;
}

bool Planner::Run(std::string* problem) {
  plan_->appName = checked_.appName;
  if (!ChooseDestination(problem) || !ChooseGroups(problem)) {
    return false;
  }
  PlanSizes();
  if (!PlanCopy(problem)) {
    return false;
  }
  PlanInstallSection();
  PlanFinishing();

  int64_t total = 0;
  size_t longestSource = 0;
  for (const PlanGroup& group : plan_->groups) {
    total += group.selected ? group.bytes : 0;
  }
  for (const PlanStep& step : plan_->steps) {
    if (step.kind == kStepFile) {
      longestSource = std::max(longestSource, step.text.size());
    }
  }
  plan_->machine.push_back(
      "the destination drive needs " + Number(total) + " bytes free (" + Number(choices_.cluster) +
      "-byte clusters), less what files already at the targets occupy; with less, setup.exe "
      "asks for another folder");
  plan_->machine.push_back("files already at the targets are replaced, read-only ones too; "
                           "folders already there are kept");
  if (longestSource > 0) {
    plan_->machine.push_back("the folder setup.exe runs from, followed by the longest source "
                             "name (" +
                             Number((int64_t)longestSource) +
                             " characters), must stay within 255 characters");
  }
  plan_->machine.push_back("sizes.txt holds figures for " + Number(choices_.cluster) +
                           "-byte clusters on the destination drive, and is not written where "
                           "setup.exe's folder is read-only");
  plan_->machine.push_back("the links' folders are the current user's \"Programs\" and "
                           "\"Desktop\" values of HKCU\\Software\\Microsoft\\Windows\\"
                           "CurrentVersion\\Explorer\\Shell Folders; a missing value makes no "
                           "link");
  if (writesMachineKeys_) {
    plan_->machine.push_back("HKLM lines of default_install need administrator rights, without "
                             "which the platform skips them");
  }
  plan_->machine.push_back("setup.exe is a 32-bit program: on 64-bit Windows its HKLM\\Software "
                           "keys lie under HKLM\\Software\\WOW6432Node");
  plan_->machine.push_back("RunOnce is written and the system folder's runonce.exe started only "
                           "where the RunOnce key exists and the user may write it "
                           "(administrators)");
  return true;
}

std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

const char* BaseName(PlanBase base) {
  switch (base) {
  case kBasePrograms:
    return "<Programs>";
  case kBaseDesktop:
    return "<Desktop>";
  case kBaseWindows:
    return "<Windows folder>";
  case kBaseSetupFolder:
    return "<setup.exe's folder>";
  case kBaseNone:
    break;
  }
  return "";
}

std::string StepPath(const PlanStep& step) {
  return step.base == kBaseNone ? step.path : std::string(BaseName(step.base)) + "\\" + step.path;
}

const char* TypeName(uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",  "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY",
                                       "REG_DWORD", nullptr,  "REG_LINK",      "REG_MULTI_SZ"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : nullptr;
}

std::string TypeText(uint32_t type) {
  const char* name = TypeName(type);
  return name != nullptr && name[0] != '\0' ? name : "type " + Number(type);
}

std::string Hex(const std::string& data) {
  std::string text;
  char byte[4];
  for (unsigned char c : data) {
    snprintf(byte, sizeof byte, "%s%02x", text.empty() ? "" : " ", c);
    text += byte;
  }
  return text.empty() ? "(no bytes)" : text;
}

const char* StepWord(StepKind kind) {
  switch (kind) {
  case kStepSize:
    return "size";
  case kStepFolder:
    return "folder";
  case kStepFile:
    return "file";
  case kStepIni:
    return "ini";
  case kStepKey:
    return "key";
  case kStepValue:
    return "value";
  case kStepDeleteValue:
    return "delete-value";
  case kStepDeleteKey:
    return "delete-key";
  case kStepLink:
    return "link";
  case kStepRun:
    return "run";
  }
  return "";
}

void PrintJsonString(FILE* out, const std::string& text) {
  fputc('"', out);
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      fprintf(out, "\\%c", c);
    } else if (c < 0x20 || c >= 0x7F) {
      fprintf(out, "\\u%04x", c);
    } else {
      fputc(c, out);
    }
  }
  fputc('"', out);
}

void PrintJsonField(FILE* out, const char* name, const std::string& text) {
  fprintf(out, ",\"%s\":", name);
  PrintJsonString(out, text);
}

} // namespace

bool MakePlan(const CheckResult& checked, const std::string& folder, const PlanChoices& choices,
              Plan* plan, std::string* problem) {
  *plan = Plan();
  problem->clear();
  Planner planner(checked, folder, choices, plan);
  return planner.Run(problem);
}

std::string DescribeValueData(uint32_t type, const std::string& data) {
  bool text = type == kRegSz || type == kRegExpandSz;
  if (text && !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1) {
    return Quote(data.substr(0, data.size() - 1));
  }
  if (type == kRegMultiSz && data.size() >= 1 && data.back() == '\0') {
    std::string list;
    size_t start = 0;
    bool wellFormed = true;
    while (start < data.size() - 1) {
      size_t end = data.find('\0', start);
      if (end == start) {
        wellFormed = false;
        break;
      }
      list += (list.empty() ? "" : ", ") + Quote(data.substr(start, end - start));
      start = end + 1;
    }
    if (wellFormed && (start == data.size() - 1 || data.size() == 1)) {
      return "[" + list + "]";
    }
  }
  if (type == kRegDword && data.size() == 4) {
    uint32_t value = (uint8_t)data[0] | (uint8_t)data[1] << 8 | (uint8_t)data[2] << 16 |
                     (uint32_t)(uint8_t)data[3] << 24;
    char number[32];
    snprintf(number, sizeof number, "0x%08x (%u)", value, value);
    return number;
  }
  return Hex(data);
}

std::string DescribeStep(const PlanStep& step) {
  std::string text = StepWord(step.kind);
  text += " ";
  std::vector<std::string> details;
  switch (step.kind) {
  case kStepSize:
    text += StepPath(step) + " [" + step.section + "] " + step.name + "=" + step.text;
    break;
  case kStepFolder:
  case kStepKey:
  case kStepDeleteKey:
    text += step.path;
    break;
  case kStepFile:
    text += step.path + " <- " + step.text;
    details.push_back(Number(step.size) + " bytes");
    break;
  case kStepIni:
    text += StepPath(step) + " [" + step.section + "]";
    if (!step.name.empty() || !step.text.empty()) {
      text += " " + step.name + "=" + step.text;
    }
    break;
  case kStepValue:
    text += step.path + " " + Quote(step.name) + " " + TypeText(step.type) + " " +
            DescribeValueData(step.type, step.data);
    break;
  case kStepDeleteValue:
    text += step.path + " " + Quote(step.name);
    break;
  case kStepLink:
    text += StepPath(step) + " -> " + step.text + " in " + step.folder;
    break;
  case kStepRun:
    text += Quote(step.path);
    break;
  }
  if (step.line > 0) {
    details.push_back("line " + Number(step.line));
  }
  if (step.group > 0) {
    details.push_back("group " + Number(step.group));
  }
  if (!details.empty()) {
    std::string joined;
    for (const std::string& detail : details) {
      joined += (joined.empty() ? "" : ", ") + detail;
    }
    text += " (" + joined + ")";
  }
  if (!step.requiredKey.empty()) {
    text += " [only where " + step.requiredKey + " exists]";
  }
  if (step.valueCondition == kOnlyIfAbsent) {
    text += " [only where the value is absent]";
  } else if (step.valueCondition == kOnlyIfPresent) {
    text += " [only where the value is present]";
  }
  if (!step.machine.empty()) {
    text += " [machine-dependent: " + step.machine + "]";
  }
  return text;
}

void PrintPlanText(const Plan& plan, FILE* out) {
  fprintf(out, "Plan: what setup.exe does when it installs %s\n\n", plan.appName.c_str());
  fprintf(out, "Destination: %s\n  from %s\n\n", plan.destination.c_str(),
          plan.destinationFrom.c_str());
  fprintf(out, "Groups:\n");
  for (const PlanGroup& group : plan.groups) {
    std::string choice = group.option.empty() ? "always installed"
                                              : "option " + Quote(group.option) +
                                                    (group.selected ? ", ticked" : ", cleared");
    fprintf(out, "  %d [%s] %s: %s, %d file%s, %lld bytes (%s)\n", group.number,
            group.section.c_str(), Quote(group.description).c_str(), choice.c_str(), group.files,
            group.files == 1 ? "" : "s", (long long)group.bytes,
            group.measured ? "measured" : "SizeN");
  }
  fprintf(out, "\nSteps, in the order setup.exe takes them:\n");
  for (const PlanStep& step : plan.steps) {
    fprintf(out, "  %s\n", DescribeStep(step).c_str());
  }
  fprintf(out, "\nDepends on the machine:\n");
  for (const std::string& note : plan.machine) {
    fprintf(out, "  %s\n", note.c_str());
  }
}

void PrintPlanJson(const Plan& plan, FILE* out) {
  fprintf(out, "{\"app\":");
  PrintJsonString(out, plan.appName);
  fprintf(out, ",\"destination\":{\"path\":");
  PrintJsonString(out, plan.destination);
  PrintJsonField(out, "from", plan.destinationFrom);
  fprintf(out, "},\"groups\":[");
  for (size_t i = 0; i < plan.groups.size(); ++i) {
    const PlanGroup& group = plan.groups[i];
    fprintf(out, "%s\n{\"group\":%d", i == 0 ? "" : ",", group.number);
    PrintJsonField(out, "section", group.section);
    PrintJsonField(out, "description", group.description);
    PrintJsonField(out, "option", group.option);
    fprintf(out, ",\"selected\":%s,\"files\":%d,\"bytes\":%lld,\"measured\":%s}",
            group.selected ? "true" : "false", group.files, (long long)group.bytes,
            group.measured ? "true" : "false");
  }
  fprintf(out, "],\"steps\":[");
  for (size_t i = 0; i < plan.steps.size(); ++i) {
    const PlanStep& step = plan.steps[i];
    fprintf(out, "%s\n{\"step\":\"%s\"", i == 0 ? "" : ",", StepWord(step.kind));
    if (step.base != kBaseNone) {
      static const char* const kBases[] = {"", "Programs", "Desktop", "Windows", "setup folder"};
      PrintJsonField(out, "base", kBases[step.base]);
    }
    PrintJsonField(out, step.kind == kStepRun ? "command" : "path", step.path);
    switch (step.kind) {
    case kStepSize:
    case kStepIni:
      PrintJsonField(out, "section", step.section);
      PrintJsonField(out, "key", step.name);
      PrintJsonField(out, "value", step.text);
      break;
    case kStepFile:
      PrintJsonField(out, "source", step.text);
      fprintf(out, ",\"bytes\":%lld", (long long)step.size);
      break;
    case kStepValue:
      PrintJsonField(out, "name", step.name);
      PrintJsonField(out, "type", TypeText(step.type));
      PrintJsonField(out, "data", DescribeValueData(step.type, step.data));
      break;
    case kStepDeleteValue:
      PrintJsonField(out, "name", step.name);
      break;
    case kStepLink:
      PrintJsonField(out, "target", step.text);
      PrintJsonField(out, "workingDirectory", step.folder);
      break;
    default:
      break;
    }
    if (step.line > 0) {
      fprintf(out, ",\"line\":%d", step.line);
    }
    if (step.group > 0) {
      fprintf(out, ",\"group\":%d", step.group);
    }
    if (!step.requiredKey.empty()) {
      PrintJsonField(out, "onlyWhereKeyExists", step.requiredKey);
    }
    if (step.valueCondition != kAlways) {
      PrintJsonField(out, "onlyWhereValueIs",
                     step.valueCondition == kOnlyIfAbsent ? "absent" : "present");
    }
    if (!step.machine.empty()) {
      PrintJsonField(out, "machineDependent", step.machine);
    }
    fprintf(out, "}");
  }
  fprintf(out, "],\"machineDependent\":[");
  for (size_t i = 0; i < plan.machine.size(); ++i) {
    fprintf(out, "%s\n", i == 0 ? "" : ",");
    PrintJsonString(out, plan.machine[i]);
  }
  fprintf(out, "]}\n");
}
