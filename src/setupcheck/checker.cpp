#include "checker.h"

#include <stdio.h>

#include <algorithm>
#include <unordered_map>

#include "code_page.h"
#include "file_system.h"
#include "inf_reader.h"
#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace {

const size_t kSetupFileLimit = 64u * 1024u * 1024u; // far beyond any real setup file
const size_t kValueBuffer = 128;                    // the installer's buffer for every key
const size_t kSourceNameLimit = 127;
const size_t kPathLimit = 255;
const size_t kMeasurePathBuffer = 512;
const int kMaxGroups = 128;
const int64_t kTwoGiB = 2147483648LL;

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

int32_t LowWord32(int64_t value) {
  uint32_t low = (uint32_t)((uint64_t)value & 0xFFFFFFFFu);
  return low <= 0x7FFFFFFFu ? (int32_t)low : (int32_t)(low - 0x80000000u) - 0x7FFFFFFF - 1;
}

int64_t RoundToClusters(int64_t bytes, int64_t cluster) {
  return bytes <= 0 ? 0 : (bytes + cluster - 1) / cluster * cluster;
}

struct Group {
  int number;
  std::string section;
  int groupLine;
};

class Checker {
public:
  Checker(const std::string& folder, int64_t cluster, CheckResult* result)
      : folder_(folder), cluster_(cluster), result_(result), inf_(result->inf), ini_(result->ini) {}

  void Run();

private:
  void Add(int line, Severity severity, const std::string& text) {
    result_->findings.push_back(Finding{line, severity, text});
  }
  bool OpenSetupFile();
  // Findings on how the bytes are read; false when Windows cannot read them at all.
  bool CheckEncoding(const std::string& data);
  // A key as the installer reads it, with a warning when its value is cut.
  std::string Read(const char* section, const std::string& key, int* line);
  int SectionLine(const char* section) const;
  void ReadGroupList();
  void CheckIgnoredEntries();
  void CheckRequiredKeys();
  void CheckGroups();
  int64_t MeasureGroup(const Group& group, bool* measured);
  void CheckGroupLine(const std::string& text, int line, int64_t* size);
  int32_t CheckCachedSize(const Group& group, bool* valid, int* line);
  void CheckInstallSection();
  void CheckSystemNames();
  void CheckUninstallEntry();

  std::string folder_;
  int64_t cluster_;
  CheckResult* result_;
  InfFile& inf_;
  IniFile& ini_;
  std::vector<Group> groups_;
  int listEnd_ = kMaxGroups + 1; // the entry that ended the group list
  std::string destination_;
  std::unordered_map<std::string, int> targets_; // every target named so far, and its line
};

bool Checker::OpenSetupFile() {
  const char* reason = nullptr;
  std::string data;
  std::string path;
  int64_t size = 0;
  FileKind kind = FindBelow(folder_, "SETUP.DAT", &size, &path);
  if (kind == kNoFile) {
    reason = "there is no SETUP.DAT in this folder";
  } else if (kind == kFolder) {
    reason = "SETUP.DAT is a folder";
  } else {
    int read = ReadWholeFile(path, kSetupFileLimit, &data);
    if (read < 0) {
      reason = "the file is larger than 64 MB";
    } else if (read == 0) {
      reason = "the file cannot be read";
    }
  }
  if (reason == nullptr && !CheckEncoding(data)) {
    return false;
  }
  if (reason == nullptr) {
    if (!CodePageName(folder_, &inf_.folder)) {
      inf_.folder = folder_;
    }
    inf_.folder += "\\";
    ReadInf(data.data(), data.size(), &inf_);
    switch (inf_.status) {
    case kInfOpened:
      break;
    case kInfEmpty:
      reason = "the file is empty";
      break;
    case kInfUnclosedSection:
      reason = "a section name has no closing \"]\"";
      break;
    case kInfSectionNameTooLong:
      reason = "a section name is longer than 255 characters";
      break;
    case kInfTextBeforeSection:
      reason = "text before the first section (allowed only when there is a [Strings] section)";
      break;
    case kInfNoSignature:
      reason = "[Version] has no Signature of \"$Chicago$\", \"$Windows NT$\" or \"$Windows 95$\"";
      break;
    }
  }
  if (reason != nullptr) {
    Add(inf_.errorLine, kError, std::string("cannot be opened as an INF file: ") + reason);
    return false;
  }
  ReadIni(data.data(), data.size(), &ini_);
  result_->opened = true;
  for (int line : inf_.lostLines) {
    Add(line, kError,
        "a character that code page " + Number(SelectedCodePage()) +
            " does not have: setup.exe reads \"?\" or a near character in its place");
  }
  return true;
}

bool Checker::CheckEncoding(const std::string& data) {
  const std::string codePage = "code page " + Number(SelectedCodePage());
  const std::string save =
      "; save it in the code page, or as UTF-16LE with its byte order mark (FF FE)";
  TextEncoding encoding = DetectEncoding(data.data(), data.size());
  switch (encoding) {
  case kEncodingUtf16BigEndian:
    Add(0, kError,
        "UTF-16 big-endian: Windows reads only UTF-16LE with its mark as Unicode and this file "
        "in " +
            codePage +
            ", where no section or key is found (Wine reads its keys but not its "
            "INF)" +
            save);
    return false;
  case kEncodingUtf16WithoutMark:
    Add(0, kError,
        "zero bytes, and no UTF-16 byte order mark: Windows reads the file in " + codePage +
            ", where a zero byte ends the name or value it is in, so a UTF-16 file without its "
            "mark has no key found (Wine takes the file for UTF-16)" +
            save);
    return false;
  case kEncodingUtf8Mark: {
    // The mark's bytes start the first line, which is then no section header.
    std::string lost = "the first line's text";
    size_t close = data.find_first_of("]\r\n", 3);
    if (data.size() > 3 && data[3] == '[' && close != std::string::npos && data[close] == ']') {
      lost = "the section [" + data.substr(4, close - 4) + "] on the first line";
    }
    Add(1, kError,
        "a UTF-8 byte order mark: Windows reads the file in " + codePage +
            ", the mark becomes text, so " + lost +
            " is lost, and every non-ASCII character is read as code page characters (Wine "
            "reads UTF-8)" +
            save);
    break;
  }
  case kEncodingUtf8WithoutMark:
    break;
  default:
    return true;
  }
  // UTF-8 text: every line with a non-ASCII character, as Windows shows it.
  int line = 1;
  for (size_t start = encoding == kEncodingUtf8Mark ? 3 : 0; start < data.size(); ++line) {
    size_t end = std::min(data.find('\n', start), data.size());
    std::string text = data.substr(start, end - start);
    start = end + 1;
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) {
      text.pop_back();
    }
    if (std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c >= 0x80; })) {
      CutToChars(&text, 100);
      Add(line, kWarning,
          "UTF-8 text is read in " + codePage + ": setup.exe shows " + Quoted(text));
    }
  }
  return true;
}

std::string Checker::Read(const char* section, const std::string& key, int* line) {
  const IniKey* found = FindIniKey(ini_, section, key.c_str());
  size_t fullLength = 0;
  std::string value = IniValueText(found, kValueBuffer, &fullLength);
  *line = found != nullptr ? found->lineNumber : 0;
  if (fullLength > kValueBuffer - 1) {
    Add(*line, kWarning,
        key + " is " + Number((int64_t)fullLength) +
            " characters long; the installer uses only the first 127");
  }
  return value;
}

int Checker::SectionLine(const char* section) const {
  const IniSection* found = FindIniSection(ini_, section);
  return found != nullptr ? found->lineNumber : 0;
}

void Checker::ReadGroupList() {
  std::vector<int> optionLines;
  std::vector<std::string> optionKeys;
  for (int n = 1; n <= kMaxGroups; ++n) {
    std::string number = Number(n);
    int groupLine = 0;
    int optionLine = 0;
    int descriptionLine = 0;
    std::string section = Read("KVSetup", "Group" + number, &groupLine);
    std::string option = Read("KVSetup", "Option" + number, &optionLine);
    std::string description = Read("KVSetup", "Description" + number, &descriptionLine);
    // An option counts before the end test, as the installer counts it.
    if (!option.empty()) {
      optionLines.push_back(optionLine);
      optionKeys.push_back("Option" + number);
      result_->options.push_back(n);
    }
    if (section.empty() || description.empty()) {
      listEnd_ = n;
      if (!option.empty()) {
        Add(optionLine, kWarning,
            "Option" + number +
                " is on the entry that ends the group list: its check box is shown, but nothing "
                "is copied for it");
      }
      break;
    }
    groups_.push_back(Group{n, section, groupLine});
    result_->groups.push_back(LoadedGroup{n, section, option, description, groupLine, 0});
  }
  if (groups_.empty()) {
    Add(SectionLine("KVSetup"), kError,
        "no group: Group1 and Description1 must both be set <Missing Section>");
  }
  if (optionKeys.size() > 2) {
    std::string names;
    for (const std::string& key : optionKeys) {
      names += (names.empty() ? "" : ", ") + key;
    }
    Add(optionLines[2], kError,
        Number((int64_t)optionKeys.size()) + " optional groups (" + names +
            "); at most 2 are allowed <Maximum 2 optional groups>");
  }
}

// Group and description keys past the end of the list are never read: a gap in the numbering
// silently drops every group after it.
void Checker::CheckIgnoredEntries() {
  const IniSection* section = FindIniSection(ini_, "KVSetup");
  if (section == nullptr) {
    return;
  }
  for (const IniKey& key : section->keys) {
    std::string lower = LowerAscii(key.name);
    size_t digits = lower.compare(0, 5, "group") == 0          ? 5
                    : lower.compare(0, 11, "description") == 0 ? 11
                                                               : 0;
    if (digits == 0 || digits >= lower.size() || lower[digits] == '0' ||
        lower.find_first_not_of("0123456789", digits) != std::string::npos ||
        lower.size() - digits > 4) {
      continue; // not a numbered entry the installer could ask for
    }
    int n = atoi(lower.c_str() + digits);
    if (n < listEnd_ || FindIniKey(ini_, "KVSetup", key.name.c_str()) != &key ||
        IniValueText(&key, kValueBuffer, nullptr).empty()) {
      continue;
    }
    if (n > kMaxGroups) {
      Add(key.lineNumber, kWarning, key.name + " is never read: at most 128 groups are read");
    } else {
      std::string end = Number(listEnd_);
      bool noGroup =
          IniValueText(FindIniKey(ini_, "KVSetup", ("Group" + end).c_str()), kValueBuffer, nullptr)
              .empty();
      bool noDescription = IniValueText(FindIniKey(ini_, "KVSetup", ("Description" + end).c_str()),
                                        kValueBuffer, nullptr)
                               .empty();
      std::string why = noGroup && noDescription
                            ? "Group" + end + " and Description" + end + " are empty"
                        : noGroup ? "Group" + end + " is empty"
                                  : "Description" + end + " is empty";
      Add(key.lineNumber, kWarning,
          key.name + " is never read: the group list ends at entry " + end + " (" + why + ")");
    }
    return; // one is enough: the rest follow from it
  }
}

void Checker::CheckRequiredKeys() {
  struct Required {
    const char* section;
    const char* key;
    const char* reason;
  };
  static const Required kRequired[] = {
      {"Strings", "APPNAME", "<Missing App>"},
      {"Strings", "EXENAME", "<Missing Exe>"},
      {"KVSetup", "Title", "<Missing Title>"},
  };
  std::string appName;
  for (const Required& required : kRequired) {
    int line = 0;
    std::string value = Read(required.section, required.key, &line);
    if (value.empty()) {
      Add(line != 0 ? line : SectionLine(required.section), kError,
          std::string("[") + required.section + "] " + required.key + " is missing or empty " +
              required.reason);
    }
    if (std::string(required.key) == "APPNAME") {
      appName = value;
      result_->appName = value;
    } else if (std::string(required.key) == "EXENAME") {
      result_->exeName = value;
    } else {
      result_->title = value;
    }
  }
  // The default destination when no earlier installation is registered on the machine.
  int line = 0;
  destination_ = Read("KVSetup", "Path", &line);
  result_->path = destination_;
  result_->pathLine = line;
  if (destination_.empty()) {
    destination_ = "C:\\" + appName;
  }
}

bool LeavesFolder(const std::string& target) {
  size_t start = 0;
  while (start <= target.size()) {
    size_t end = FindChar(target, "\\/", start);
    if (end == std::string::npos) {
      end = target.size();
    }
    if (target.compare(start, end - start, "..") == 0 && end - start == 2) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

void Checker::CheckGroupLine(const std::string& text, int line, int64_t* size) {
  char target[kLineTextLimit + 1];
  char source[kLineTextLimit + 1];
  SplitGroupLine(text.c_str(), target, sizeof target, source, sizeof source);

  *size = 0;
  std::string sourceName = source;
  if (sourceName.size() > kSourceNameLimit) {
    Add(line, kError,
        "source name is " + Number((int64_t)sourceName.size()) +
            " characters long, longer than 127");
  }
  FileKind kind = FindBelow(folder_, sourceName, size);
  if (kind == kNoFile) {
    Add(line, kError, "source file " + Quoted(sourceName) + " does not exist");
  } else if (kind == kFolder) {
    Add(line, kError, "source " + Quoted(sourceName) + " is a folder, not a file");
  }
  if (kind != kRegularFile) {
    *size = 0;
  }

  char path[kMeasurePathBuffer];
  if (!JoinPathOnce(path, sizeof path, destination_.c_str(), target) ||
      std::string(path).size() > kPathLimit) {
    size_t length = destination_.size() + std::string(target).size() +
                    (!destination_.empty() && destination_.back() == '\\' ? 0 : 1);
    Add(line, kError,
        "target path is " + Number((int64_t)length) +
            " characters long with the default destination " + Quoted(destination_) +
            ", longer than 255");
  }
  std::string targetName = target;
  if (LeavesFolder(targetName)) {
    Add(line, kWarning, "target " + Quoted(targetName) + " leaves the destination folder");
  } else if (targetName.size() >= 2 && targetName[1] == ':') {
    Add(line, kWarning, "target " + Quoted(targetName) + " names a drive");
  }
  std::string key = LowerAscii(targetName);
  std::replace(key.begin(), key.end(), '/', '\\');
  auto seen = targets_.find(key);
  if (seen != targets_.end()) {
    Add(line, kWarning,
        "target " + Quoted(targetName) + " is already named on line " + Number(seen->second) +
            "; the later copy replaces it");
  } else {
    targets_[key] = line;
  }
}

// The group's gross size as the installer measures it: each target once (a later line for the
// same path replaces the earlier), rounded up to whole clusters; lines after one too long to read
// are never reached.
int64_t Checker::MeasureGroup(const Group& group, bool* measured) {
  *measured = false;
  int index = FindInfSection(inf_, group.section.c_str());
  std::string groupKey = "Group" + Number(group.number);
  if (index < 0) {
    Add(group.groupLine, kError,
        groupKey + " names the section [" + group.section + "], which does not exist");
    return 0;
  }
  const InfSection& section = inf_.sections[index];
  if (section.lines.empty()) {
    Add(group.groupLine, kError,
        groupKey + " names the section [" + group.section + "], which has no lines");
    return 0;
  }
  *measured = true;
  std::unordered_map<std::string, int64_t> counted;
  int64_t total = 0;
  for (const InfLine& line : section.lines) {
    std::string text = InfLineText(inf_, line);
    if (text.size() > kLineTextLimit) {
      Add(line.lineNumber, kError,
          "line text is " + Number((int64_t)text.size()) +
              " characters long, longer than 255: the installer reads no further in [" +
              section.name + "]");
      break;
    }
    if (line.keyWritten) {
      Add(line.lineNumber, kWarning,
          "the text before \"=\" is an INF key, not part of the line: the installer reads " +
              Quoted(text));
    }
    int64_t size = 0;
    CheckGroupLine(text, line.lineNumber, &size);
    char target[kLineTextLimit + 1];
    char source[kLineTextLimit + 1];
    SplitGroupLine(text.c_str(), target, sizeof target, source, sizeof source);
    char path[kMeasurePathBuffer];
    if (!JoinPathAlways(path, sizeof path, destination_.c_str(), target)) {
      continue; // a path that does not fit is not counted
    }
    int64_t rounded = RoundToClusters(size, cluster_);
    int64_t& slot = counted[LowerAscii(path)];
    total += rounded - slot;
    slot = rounded;
  }
  return total;
}

// The cached size from SizeN, as the installer converts it; *valid is false when the text is
// not a plain decimal number that fits.
int32_t Checker::CheckCachedSize(const Group& group, bool* valid, int* keyLine) {
  std::string key = "Size" + Number(group.number);
  int line = 0;
  std::string text = Read("KVSetup", key, &line);
  *keyLine = line;
  int32_t cached = ParseSizeValue(text.c_str());
  *valid = true;
  if (text.empty()) {
    return cached;
  }
  size_t i = text.find_first_not_of(" \t\r\n\v\f");
  if (i != std::string::npos && (text[i] == '+' || text[i] == '-')) {
    ++i;
  }
  size_t digits = i == std::string::npos ? text.size() : i;
  size_t afterDigits = text.find_first_not_of("0123456789", digits);
  if (afterDigits == std::string::npos) {
    afterDigits = text.size();
  }
  bool number = afterDigits > digits &&
                text.find_first_not_of(" \t\r\n\v\f", afterDigits) == std::string::npos;
  std::string reads = "the installer reads it as " + Number(cached);
  if (!number) {
    *valid = false;
    Add(line, kError,
        key + " " + Quoted(text) + " is not a number: " + reads +
            (cached == 0 ? " and measures the group" : ""));
    result_->findings.back().sizeKey = group.number;
    return cached;
  }
  std::string magnitude = text.substr(digits, afterDigits - digits);
  magnitude.erase(0, std::min(magnitude.find_first_not_of('0'), magnitude.size() - 1));
  bool negative = text[digits - (digits > 0 ? 1 : 0)] == '-' && digits > 0;
  const char* largest = negative ? "2147483648" : "2147483647";
  if (magnitude.size() > 10 || (magnitude.size() == 10 && magnitude > largest)) {
    *valid = false;
    Add(line, kError, key + " " + Quoted(text) + " does not fit in 32 bits: " + reads);
    result_->findings.back().sizeKey = group.number;
  }
  return cached;
}

void Checker::CheckGroups() {
  int64_t total = 0;
  for (size_t i = 0; i < groups_.size(); ++i) {
    const Group& group = groups_[i];
    bool valid = true;
    int line = 0;
    int32_t cached = CheckCachedSize(group, &valid, &line);
    result_->groups[i].cachedSize = cached;
    bool measured = false;
    int64_t size = MeasureGroup(group, &measured);
    if (measured) {
      result_->sizes.push_back(MeasuredSize{group.number, LowWord32(size)});
    }
    if (cached != 0 && valid && measured && cached != LowWord32(size)) {
      Add(line, kWarning,
          "Size" + Number(group.number) + " is " + Number(cached) + " but the files measure " +
              Number(size) + " bytes with " + Number(cluster_) + "-byte clusters");
      result_->findings.back().sizeKey = group.number;
    }
    total += cached != 0 ? cached : size;
  }
  if (total >= kTwoGiB) {
    Add(0, kError,
        "the groups total " + Number(total) +
            " bytes: 2 GiB or more does not fit the installer's 32-bit sizes");
  }
}

void Checker::CheckInstallSection() {
  int index = FindInfSection(inf_, "default_install");
  if (index < 0) {
    Add(0, kWarning,
        "no [default_install] section: nothing is written to the registry or INI files");
    return;
  }
  // The section itself and the sections its registry and INI directives name.
  static const char* const kDirectives[] = {"AddReg",     "DelReg",          "BitReg",
                                            "UpdateInis", "UpdateIniFields", "Ini2Reg"};
  std::vector<int> sections{index};
  for (const InfLine& line : inf_.sections[index].lines) {
    for (const char* directive : kDirectives) {
      if (!line.hasKey || LowerAscii(line.key) != LowerAscii(directive)) {
        continue;
      }
      for (const std::string& field : line.fields) {
        int named = FindInfSection(inf_, SubstituteField(inf_, field).c_str());
        if (named >= 0) {
          sections.push_back(named);
        }
      }
    }
  }
  size_t writing = 0;
  for (size_t i = 1; i < sections.size(); ++i) {
    writing += inf_.sections[sections[i]].lines.size();
  }
  if (writing == 0) {
    return; // it writes nothing, so it needs no destination either
  }
  for (int section : sections) {
    for (const InfLine& line : inf_.sections[section].lines) {
      for (const std::string& field : line.fields) {
        if (field.find("%65600%") != std::string::npos) {
          return;
        }
      }
    }
  }
  Add(inf_.sections[index].lineNumber, kWarning,
      "[default_install] never uses %65600%, the folder the user installs to");
}

// Programs the installer starts or has started, and libraries that it or the system's own
// libraries load by name. setup.exe names its own by full path, but where the system does not
// limit its search to the system folder (older systems; the imports of its own libraries), a
// library of such a name beside setup.exe is found first.
const char* const kSystemNames[] = {
    "runonce.exe",  "grpconv.exe",  "setupapi.dll",      "comctl32.dll",  "version.dll",
    "uxtheme.dll",  "dwmapi.dll",   "cabinet.dll",       "cfgmgr32.dll",  "devobj.dll",
    "wintrust.dll", "crypt32.dll",  "msasn1.dll",        "cryptbase.dll", "cryptsp.dll",
    "sspicli.dll",  "secur32.dll",  "userenv.dll",       "profapi.dll",   "propsys.dll",
    "apphelp.dll",  "ntmarta.dll",  "shfolder.dll",      "linkinfo.dll",  "mpr.dll",
    "netapi32.dll", "winmm.dll",    "msimg32.dll",       "oleaut32.dll",  "riched20.dll",
    "dbghelp.dll",  "msi.dll",      "windowscodecs.dll", "wldp.dll",      "shell32.dll",
    "ole32.dll",    "advapi32.dll", "user32.dll",        "gdi32.dll",     "kernel32.dll",
    "msvcrt.dll",
};

void Checker::CheckSystemNames() {
  for (const char* name : kSystemNames) {
    int64_t size = 0;
    if (FindBelow(folder_, name, &size) != kRegularFile) {
      continue;
    }
    bool program = std::string(name).find(".exe") != std::string::npos;
    Add(0, kWarning,
        Quoted(name) + " beside setup.exe has the name of a system " +
            (program ? "program" : "library") +
            ": a system that does not limit its search to the system folder may " +
            (program ? "start" : "load") + " it in place of its own; keep it in a subfolder");
  }
}

// uninstall.exe, the SETUP.DAT it reads beside it and the Uninstall entry that starts it belong
// together: each without the others leaves the application without a way to remove it.
void Checker::CheckUninstallEntry() {
  const std::string uninstallKey = "software\\microsoft\\windows\\currentversion\\uninstall\\";
  int entryLine = 0;
  int index = FindInfSection(inf_, "default_install");
  for (size_t i = 0; index >= 0 && i < inf_.sections[index].lines.size(); ++i) {
    const InfLine& directive = inf_.sections[index].lines[i];
    for (size_t f = 0;
         directive.hasKey && LowerAscii(directive.key) == "addreg" && f < directive.fields.size();
         ++f) {
      int named = FindInfSection(inf_, SubstituteField(inf_, directive.fields[f]).c_str());
      for (const InfLine& line : inf_.sections[named >= 0 ? named : index].lines) {
        std::string subkey =
            line.fields.size() >= 2 ? LowerAscii(SubstituteField(inf_, line.fields[1])) : "";
        if (named >= 0 && entryLine == 0 &&
            subkey.compare(0, uninstallKey.size(), uninstallKey) == 0) {
          entryLine = line.lineNumber;
        }
      }
    }
  }
  auto program = targets_.find("uninstall.exe");
  bool setupDat = targets_.count("setup.dat") != 0;
  if (entryLine != 0 && (program == targets_.end() || !setupDat)) {
    Add(entryLine, kWarning,
        "an Uninstall entry is written, but no group puts uninstall.exe and SETUP.DAT into the "
        "destination folder: the application cannot be removed with it");
  } else if (entryLine == 0 && program != targets_.end()) {
    Add(program->second, kWarning,
        "uninstall.exe is installed, but default_install writes no Uninstall entry "
        "(HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\...): the list of "
        "installed programs does not offer to remove the application");
  }
}

void Checker::Run() {
  CheckSystemNames();
  if (!OpenSetupFile()) {
    return;
  }
  ReadGroupList();
  CheckIgnoredEntries();
  CheckRequiredKeys();
  CheckGroups();
  CheckInstallSection();
  CheckUninstallEntry();
}

} // namespace

void CheckDistribution(const std::string& folder, int64_t clusterSize, CheckResult* result) {
  *result = CheckResult();
  int64_t ignored = 0;
  if (ExamineFile(folder, &ignored) != kFolder) {
    result->folderMissing = true;
    return;
  }
  Checker checker(folder, clusterSize > 0 ? clusterSize : (int64_t)kDefaultClusterSize, result);
  checker.Run();
  std::stable_sort(result->findings.begin(), result->findings.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
}

int CountErrors(const CheckResult& result) {
  int errors = result.folderMissing ? 1 : 0;
  for (const Finding& finding : result.findings) {
    errors += finding.severity == kError ? 1 : 0;
  }
  return errors;
}
