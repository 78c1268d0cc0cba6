// The INI and registry part of a plan: default_install's UpdateInis, UpdateIniFields, DelReg and
// AddReg lines, read field by field as the Setup API carries them out.
#include <ctype.h>

#include <iterator>

#include "plan_internal.h"
#include "text_helpers.h"

namespace plan_detail {

namespace {

const size_t kRegistryText = 4096; // the Setup API reads registry fields into this many characters

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) {
      return false;
    }
  }
  return true;
}

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

bool HasDoubledSeparator(const std::string& path) {
  size_t at = FindChar(path, "\\");
  while (at != std::string::npos && at + 1 < path.size() && path[at + 1] != '\\') {
    at = FindChar(path, "\\", at + 1);
  }
  return at != std::string::npos && at + 1 < path.size();
}

// The value type of an AddReg line's flags.
uint32_t RegistryValueType(int32_t flags) {
  switch ((uint32_t)flags & kTypeMask) {
  case 0x00000000u:
    return kRegSz;
  case 0x00010000u:
    return kRegMultiSz;
  case 0x00020000u:
    return kRegExpandSz;
  case 0x00000001u:
    return kRegBinary;
  case 0x00010001u:
    return kRegDword;
  case 0x00020001u:
    return kRegNone;
  default:
    return (uint32_t)flags >> 16;
  }
}

} // namespace

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

std::vector<const InfSection*> Planner::NamedSections(const char* key) const {
  std::vector<const InfSection*> named;
  int index = FindInfSection(inf_, installSection_);
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
  if (FindChar(file, "\\/") == std::string::npos) {
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
    std::string folder = file.substr(0, FindLastChar(file, "\\/"));
    if (!FolderMade(folder)) {
      step.machine = "written only where the folder " + folder + " exists";
    }
  }
}

// The first four fields of an AddReg or DelReg line. False when the Setup API skips the line: an
// unknown root (HKR has none here), or a line for the other list.
bool Planner::ReadRegistryLine(const InfLine& line, bool deleting, RegistryLine* reg) {
  std::string rootName;
  if (!Field(line, 1, &rootName)) {
    return false;
  }
  reg->root = LowerAscii(rootName);
  const std::string& root = reg->root;
  const char* rootKey = root == "hkcr"   ? "HKCR"
                        : root == "hkcu" ? "HKCU"
                        : root == "hklm" ? "HKLM"
                        : root == "hku"  ? "HKU"
                                         : nullptr;
  if (rootKey == nullptr) {
    return false;
  }
  Field(line, 2, &reg->subkey);
  std::string flagText;
  if (!Field(line, 4, &flagText) || !IntField(flagText, &reg->flags)) {
    reg->flags = 0;
  }
  int32_t& flags = reg->flags;
  if (!deleting && (flags & kDeleteRegBit)) {
    return false;
  }
  if (deleting) {
    if (flags == 0) {
      flags = kDeleteRegBit;
    } else if (!(flags & kDeleteRegBit)) {
      return false;
    }
  }
  const std::string& subkey = reg->subkey;
  reg->key = std::string(rootKey) + (subkey.empty() ? "" : "\\" + subkey);
  Field(line, 3, &reg->name);
  if (root == "hkcr" || root == "hku") {
    reg->machine = "HKCR and HKU keys lie where the machine's registry puts them";
  } else if (flags < 0 || (uint32_t)flags >> 16 == kRegLink) {
    reg->machine = "flags the platform reads its own way";
  } else if (HasDirectoryId(subkey + reg->name)) {
    reg->machine = kDirectoryId;
  } else if (flags & (kKeyView64 | kKeyView32)) {
    reg->machine = "a 64-bit or 32-bit registry view asked for";
  } else if (subkey.size() >= kRegistryText || reg->name.size() >= kRegistryText ||
             (!subkey.empty() && (subkey.front() == '\\' || EndsWithChar(subkey, '\\') ||
                                  HasDoubledSeparator(subkey)))) {
    reg->machine = "a key path the platform may refuse";
  }
  reg->mustExist = deleting || (flags & kOverwriteOnly);
  return true;
}

PlanStep& Planner::AddRegistryStep(StepKind kind, const InfLine& line, const RegistryLine& reg) {
  PlanStep& step = Add(kind, reg.key, line.lineNumber);
  if (reg.mustExist) {
    step.requiredKey = reg.key;
  }
  step.machine = reg.machine;
  return step;
}

// One AddReg or DelReg line, as the Setup API carries it out.
void Planner::PlanRegistryLine(const InfLine& line, bool deleting) {
  RegistryLine reg;
  if (!ReadRegistryLine(line, deleting, &reg)) {
    return;
  }
  if (reg.root == "hklm") {
    writesMachineKeys_ = true;
  }
  if (!reg.mustExist && createdKeys_.insert(LowerAscii(reg.key)).second) {
    Add(kStepKey, reg.key, line.lineNumber).machine = reg.machine;
  }
  if (reg.flags & (kDeleteRegBit | kDeleteValue)) {
    PlanRegistryDelete(line, reg);
  } else if (!(reg.flags & (kKeyOnly | kKeyOnlyCommon))) {
    PlanRegistryValue(line, reg);
  }
}

void Planner::PlanRegistryDelete(const InfLine& line, const RegistryLine& reg) {
  if (!reg.name.empty() && !(reg.flags & kKeyOnlyCommon)) {
    PlanStep& step = AddRegistryStep(kStepDeleteValue, line, reg);
    step.name = reg.name;
    if ((reg.flags & kMultiSzDeleteString) == kMultiSzDeleteString) {
      step.machine = "removes one string from a list: the rest depends on the list there";
    }
    return;
  }
  AddRegistryStep(kStepDeleteKey, line, reg);
  std::string gone = LowerAscii(reg.key);
  for (auto it = createdKeys_.begin(); it != createdKeys_.end();) {
    bool below = *it == gone || it->compare(0, gone.size() + 1, gone + "\\") == 0;
    it = below ? createdKeys_.erase(it) : std::next(it);
  }
}

void Planner::PlanRegistryValue(const InfLine& line, RegistryLine& reg) {
  uint32_t type = RegistryValueType(reg.flags);
  std::string data;
  if (!RegistryValueData(line, type, reg, &data)) {
    return;
  }
  if (HasDirectoryId(data) && reg.machine.empty()) {
    reg.machine = kDirectoryId;
  }
  PlanStep& step = AddRegistryStep(kStepValue, line, reg);
  step.name = reg.name;
  step.type = type;
  step.data = data;
  if (reg.flags & kNoClobber) {
    step.valueCondition = kOnlyIfAbsent;
  } else if (reg.flags & kOverwriteOnly) {
    step.valueCondition = kOnlyIfPresent;
  }
  if ((reg.flags & kNoClobber) && (reg.flags & kOverwriteOnly)) {
    plan_->steps.pop_back(); // absent and present at once: never written
  }
}

// The bytes an AddReg line stores, from its fifth field on. False when nothing is written.
bool Planner::RegistryValueData(const InfLine& line, uint32_t type, RegistryLine& reg,
                                std::string* data) {
  if ((reg.flags & kBinaryValueType) && !(type == kRegDword && line.fields.size() == 5)) {
    // Two hex digits a field, taken as written.
    for (size_t n = 5; n <= line.fields.size(); ++n) {
      uint32_t value = 0;
      for (char c : line.fields[n - 1]) {
        if (!isxdigit((unsigned char)c)) {
          break;
        }
        value <<= 4;
        if (value > 255) {
          reg.machine = "a byte of more than two hex digits: the platform stores no defined data";
          break;
        }
        value |= (uint32_t)(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
      }
      data->push_back((char)value);
    }
    return true;
  }
  std::string text;
  if (type == kRegMultiSz) {
    // Fields from the fifth on, up to the first empty one.
    size_t strings = 0;
    for (size_t n = 5; Field(line, n, &text) && !text.empty(); ++n, ++strings) {
      *data += text + '\0';
    }
    *data += '\0';
    if (reg.flags & kAppend) {
      reg.machine = "appended to the list already there";
      return strings > 0;
    }
    return true;
  }
  bool given = Field(line, 5, &text);
  if (type == kRegDword) {
    *data = Dword(given ? UnsignedValue(text) : 0);
  } else if (type == kRegSz || type == kRegExpandSz) {
    *data = text + '\0';
  } else {
    *data = Utf16Bytes(text + '\0');
    if (!IsAscii(text)) {
      reg.machine =
          "text in a type the platform stores as UTF-16: its bytes depend on the code page";
    }
  }
  return true;
}

// default_install (or a removal's default_uninstall) with only its INI and registry operations:
// UpdateInis, then UpdateIniFields, then DelReg, then AddReg.
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
        if (FindChar(file, "\\/") == std::string::npos) {
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

} // namespace plan_detail
