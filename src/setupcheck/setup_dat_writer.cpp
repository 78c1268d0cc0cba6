#include "setup_dat_writer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "setup_script/text_rules.h"
#include "text_helpers.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

// A SizeN value that says exactly the figure: blanks, an optional sign and digits only, read as
// the installer reads it.
bool SaysSize(const std::string& value, int32_t size) {
  size_t i = value.find_first_not_of(" \t\r\n\v\f");
  if (i == std::string::npos) {
    return false;
  }
  if (value[i] == '+' || value[i] == '-') {
    ++i;
  }
  size_t end = value.find_first_not_of("0123456789", i);
  if (end == i || (end != std::string::npos &&
                   value.find_first_not_of(" \t\r\n\v\f", end) != std::string::npos)) {
    return false;
  }
  std::string digits = value.substr(i, end == std::string::npos ? std::string::npos : end - i);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  return digits.size() <= 10 && ParseSizeValue(value.c_str()) == size &&
         (digits.size() < 10 || digits <= "2147483648");
}

struct Edit {
  size_t at;        // position in the decoded text
  size_t removed;   // characters replaced
  std::string text; // what takes their place (ASCII)
};

// The file's own bytes with the edits applied: positions are those of the decoded text, taken
// back to the file's bytes through where each came from.
std::string ApplyEdits(const std::string& bytes, const TextOrigin& origin,
                       std::vector<Edit> edits) {
  bool wide = origin.utf16;
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
  std::string out;
  size_t copied = 0;
  for (const Edit& edit : edits) {
    size_t at = origin.from[edit.at];
    out.append(bytes, copied, at - copied);
    for (char c : edit.text) {
      out.push_back(c);
      if (wide) {
        out.push_back('\0');
      }
    }
    copied = origin.from[edit.at + edit.removed];
  }
  out.append(bytes, copied, std::string::npos);
  return out;
}

struct TextLine {
  size_t start, end, next; // the line's text is [start, end); next is after its line feed
};

std::vector<TextLine> SplitLines(const std::string& text) {
  std::vector<TextLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t feed = text.find('\n', start);
    size_t next = feed == std::string::npos ? text.size() : feed + 1;
    size_t end = feed == std::string::npos ? text.size() : feed;
    if (end > start && text[end - 1] == '\r') {
      --end;
    }
    lines.push_back(TextLine{start, end, next});
    start = next;
  }
  return lines;
}

} // namespace

std::string PutSizes(const std::string& bytes, const CheckResult& checked,
                     std::vector<std::string>* changes) {
  changes->clear();
  TextOrigin origin;
  origin.mapBytes = true;
  std::string text = DecodeText(bytes.data(), bytes.size(), &origin);
  std::vector<TextLine> lines = SplitLines(text);
  const IniFile& ini = checked.ini;
  const IniSection* section = FindIniSection(ini, "KVSetup");
  if (section == nullptr || lines.empty()) {
    return bytes;
  }
  std::string lineEnd = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";

  // New keys go after the section's last line that is neither blank nor a comment.
  int lastLine = section->lineNumber;
  int sectionEnd = (int)lines.size();
  for (size_t i = 0; i + 1 < ini.sections.size(); ++i) {
    if (&ini.sections[i] == section) {
      sectionEnd = ini.sections[i + 1].lineNumber - 1;
    }
  }
  for (int n = section->lineNumber + 1; n <= sectionEnd; ++n) {
    const TextLine& line = lines[n - 1];
    size_t first = line.start;
    while (first < line.end && IsBlank(text[first])) {
      ++first;
    }
    if (first < line.end && text[first] != ';') {
      lastLine = n;
    }
  }

  std::vector<Edit> edits;
  std::string added;
  for (const MeasuredSize& size : checked.sizes) {
    std::string name = "Size" + Number(size.group);
    const IniKey* key = FindIniKey(ini, "KVSetup", name.c_str());
    std::string figure = Number(size.bytes);
    if (key == nullptr) {
      if (size.bytes != 0) { // 0 would only say "measure", as no key does
        added += name + "=" + figure + lineEnd;
        changes->push_back(name + "=" + figure + " added");
      }
      continue;
    }
    if (key->hasValue && SaysSize(IniValueText(key, 128, nullptr), size.bytes)) {
      continue;
    }
    const TextLine& line = lines[key->lineNumber - 1];
    size_t equals = text.find('=', line.start);
    size_t end = line.end;
    while (end > line.start && IsBlank(text[end - 1])) {
      --end;
    }
    if (equals == std::string::npos || equals >= line.end) {
      edits.push_back(Edit{end, 0, "=" + figure});
    } else {
      size_t value = equals + 1;
      while (value < end && IsBlank(text[value])) {
        ++value;
      }
      edits.push_back(Edit{value, end - value, figure});
    }
    changes->push_back(name + "=" + figure + " replaced " +
                       (key->hasValue ? "\"" + key->value + "\"" : "a key without a value"));
  }
  if (!added.empty()) {
    const TextLine& after = lines[lastLine - 1];
    bool ended = after.next > after.end; // the line has its line feed
    edits.push_back(Edit{after.next, 0, (ended ? "" : lineEnd) + added});
  }
  return ApplyEdits(bytes, origin, edits);
}

namespace {

// A file name as one field of an INF line: quoted where the INF would read it otherwise.
std::string Field(const std::string& name) {
  std::string field;
  for (char c : name) {
    field += c == '%' ? "%%" : std::string(1, c); // "%" starts a substitution, quoted or not
  }
  bool quote = name.find_first_of(";=\",") != std::string::npos || name[0] == '[' ||
               IsBlank(name[0]) || IsBlank(name.back());
  return quote ? "\"" + field + "\"" : field;
}

// A value of [Strings] or [KVSetup], read both as INF and INI: quoted where the INF would end it
// at a comment or drop its outer blanks.
std::string Value(const std::string& text) {
  bool quote = text.find(';') != std::string::npos || IsBlank(text[0]) || IsBlank(text.back());
  return quote ? "\"" + text + "\"" : text;
}

} // namespace

std::string RefuseName(const std::string& name) {
  if (name.empty()) {
    return "is empty";
  }
  if (name.size() > 127) {
    return "is longer than the 127 characters setup.exe reads";
  }
  for (size_t i = 0; i < name.size(); i += CharBytes(name, i)) {
    unsigned char c = (unsigned char)name[i];
    if (c < 0x20 || c == 0x7F || strchr("\"\\/:*?<>|", c) != nullptr) {
      return "holds a character Windows refuses in file names (it names the link and the folder)";
    }
  }
  return "";
}

// The application's entry in the system's list of installed programs, whose UninstallString
// starts uninstall.exe in the installed folder.
static std::string UninstallEntry(int64_t installedKiB, const char* eol) {
  const std::string key =
      "HKLM,Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%APPNAME%,";
  std::string out = std::string("; The application's entry in the list of installed programs. Put "
                                "VERSION and PUBLISHER") +
                    eol + "; into [Strings] and the two lines below them, to show them there." +
                    eol + "[Uninstall.AddReg]" + eol;
  out += key + "DisplayName,,%APPNAME%" + eol;
  out += key + "UninstallString,,\"\"\"%65600%\\uninstall.exe\"\"\"" + eol;
  out += key + "InstallLocation,,%65600%" + eol;
  out += key + "DisplayIcon,,%65600%\\%EXENAME%.exe" + eol;
  out += "; " + key + "DisplayVersion,,%VERSION%" + eol;
  out += "; " + key + "Publisher,,%PUBLISHER%" + eol;
  out += key + "EstimatedSize,0x10001," + Number(installedKiB) + eol;
  out += key + "NoModify,0x10001,1" + eol;
  out += key + "NoRepair,0x10001,1" + eol;
  return out;
}

std::string FirstSetupDat(const std::string& appName, const std::string& exeName,
                          std::vector<std::string> files, std::vector<std::string>* left,
                          int64_t installedKiB) {
  left->clear();
  auto program = std::find_if(files.begin(), files.end(), [](const std::string& file) {
    return EqualIgnoringAsciiCase(file.c_str(), "uninstall.exe") != 0;
  });
  bool uninstall = program != files.end();
  if (uninstall) {
    files.erase(program); // shipped in a group of its own, with SETUP.DAT
  }
  // Each folder's files together, so the copy makes each folder once; names without regard to
  // case, as Windows compares them.
  auto folderOf = [](const std::string& path) {
    size_t split = FindLastChar(path, "\\");
    return split == std::string::npos ? std::string() : path.substr(0, split);
  };
  std::sort(files.begin(), files.end(), [&](const std::string& a, const std::string& b) {
    std::string folderA = LowerAscii(folderOf(a));
    std::string folderB = LowerAscii(folderOf(b));
    return folderA != folderB ? folderA < folderB : LowerAscii(a) < LowerAscii(b);
  });
  const char* eol = "\r\n";
  std::string out;
  out += "; SETUP.DAT for " + appName + ", first written by setupcheck --init." + eol;
  out +=
      std::string("; Check it with setupcheck; see what an install does with setupcheck --plan.") +
      eol + eol;
  out += std::string("[Version]") + eol + "Signature=\"$Chicago$\"" + eol + eol;
  out += std::string("[Strings]") + eol + "APPNAME=" + Value(appName) + eol +
         "EXENAME=" + Value(exeName) + eol + eol;
  out += std::string("[KVSetup]") + eol + "Title=" + Value(appName + " Setup") + eol;
  out += "Path=" + Value("C:\\Program Files\\" + appName) + eol;
  out += std::string("Group1=Program.Files") + eol + "Description1=Copying program files..." + eol;
  if (uninstall) {
    out += std::string("Group2=Uninstall.Files") + eol +
           "Description2=Copying the uninstall program..." + eol;
  }
  out += eol;
  out += std::string("; target[,source]: the target is relative to the destination folder, the "
                     "source to this folder.") +
         eol;
  out += std::string("[Program.Files]") + eol;
  for (const std::string& file : files) {
    bool special = false;
    for (unsigned char c : file) {
      special |= c < 0x20 || c == 0x7F || c == '"';
    }
    if (special) {
      left->push_back(file + ": the name holds a character a group line cannot name here");
      continue;
    }
    if (file.find(',') != std::string::npos) {
      // Only the first comma separates target and source, so the target takes another name.
      std::string target = file;
      std::replace(target.begin(), target.end(), ',', '_');
      out += Field(target) + "," + Field(file) + eol;
    } else {
      out += Field(file) + eol;
    }
  }
  out += eol;
  if (uninstall) {
    out += std::string("; uninstall.exe removes the installation again, reading the SETUP.DAT "
                       "beside it.") +
           eol + "[Uninstall.Files]" + eol + "uninstall.exe" + eol + "SETUP.DAT" + eol + eol;
  }
  out +=
      std::string(
          "; Registry and INI entries, made after the copy; %65600% is the destination folder.") +
      eol;
  out += std::string("[default_install]") + eol;
  if (uninstall) {
    out += std::string("AddReg=Uninstall.AddReg") + eol;
  }
  out +=
      std::string(uninstall ? "; AddReg=Uninstall.AddReg,App.AddReg" : "; AddReg=App.AddReg") + eol;
  out += std::string(";") + eol;
  out += std::string("; [App.AddReg]") + eol;
  out += "; HKCU,Software\\" + appName + ",InstallDir,,%65600%" + eol;
  if (uninstall) {
    out += eol + UninstallEntry(installedKiB, eol);
  }
  return out;
}
