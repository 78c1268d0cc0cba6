// Our portable INF and INI reader against the platform's: for every file of the corpus, and for
// files generated from it by seeded mutations, the same open result, the same sections and line
// counts, the same line texts as SetupGetLineTextA (including which lines do not fit 256 bytes)
// and the same values as GetPrivateProfileStringA.
//   INF_DIFF_COUNT=N INF_DIFF_SEED=S  generate N files from seed S (the suite: 150 from seed 1)
//   INF_DIFF_KEEP=folder              keep every file that differs there, for triage
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "code_page.h"
#include "inf_reader.h"
#include "support/test_support.h"

namespace {

std::string WindowsSourcePath(const std::string& relative) {
  std::string folder = "Z:" SOURCE_DIR "/" + relative;
  for (char& c : folder) {
    c = c == '/' ? '\\' : c;
  }
  return folder;
}

std::string CorpusFolder() {
  return WindowsSourcePath("tests/setupcheck/inf_corpus/");
}

std::vector<std::string> FilesMatching(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  return names;
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, 0);
  if (file == INVALID_HANDLE_VALUE) {
    return bytes;
  }
  bytes.resize(GetFileSize(file, NULL));
  DWORD got = 0;
  if (!bytes.empty()) {
    ReadFile(file, &bytes[0], (DWORD)bytes.size(), &got, NULL);
  }
  bytes.resize(got);
  CloseHandle(file);
  return bytes;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, 0);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  bool ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// What the installer gets for one line: the text, or nothing when it does not fit 256 bytes.
std::string PlatformLineText(INFCONTEXT* context, std::string* full) {
  DWORD required = 0;
  SetupGetLineTextA(context, NULL, NULL, NULL, NULL, 0, &required);
  std::vector<char> whole(required + 1);
  full->clear();
  if (SetupGetLineTextA(context, NULL, NULL, NULL, whole.data(), required + 1, NULL)) {
    *full = whole.data();
  }
  char line[256];
  return SetupGetLineTextA(context, NULL, NULL, NULL, line, sizeof line, NULL) ? line : "<no fit>";
}

std::string Shown(const std::string& text) {
  std::string shown;
  for (unsigned char c : text.substr(0, 80)) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02X", c);
    shown += c >= 32 && c < 127 ? std::string(1, (char)c) : hex;
  }
  return "\"" + shown + (text.size() > 80 ? "\"..." : "\"");
}

// Whether a field names a numbered directory id of the system's own (below 32768, other than 1):
// the platform puts in its folder on this machine (C:\windows\system32\unknown for an id it does
// not know); we keep it as written, and the documentation says so.
bool NamesSystemDirectoryId(const InfFile& inf, const InfLine& line) {
  for (const std::string& field : line.fields) {
    size_t open = std::string::npos;
    for (size_t i = 0; i < field.size(); ++i) {
      if (field[i] != '%') {
        continue;
      }
      if (open == std::string::npos) {
        open = i;
        continue;
      }
      std::string name = field.substr(open + 1, i - open - 1);
      open = std::string::npos;
      char* end = nullptr;
      long id = strtol(name.c_str(), &end, 10);
      bool number = !name.empty() && end != nullptr && *end == '\0';
      if (number && id != 1 && id < 32768 &&
          SubstituteField(inf, "%" + name + "%") == "%" + name + "%") {
        return true;
      }
    }
  }
  return false;
}

// Characters outside the ANSI code page in a UTF-8 or UTF-16 file: the platform picks a near one
// for some (best fit) and we read all of them as "?"; the wide blanks among them it trims where
// a blank is trimmed, or keeps at the ends of a single value, and we do not. The documentation
// says so. Apart from "?" and blanks, the texts must be the same.
bool wideFile = false;
bool DiffersOnlyByBestFit(const std::string& platform, const std::string& ours) {
  if (!wideFile) {
    return false;
  }
  bool nearCharacters = platform.size() == ours.size();
  for (size_t i = 0; nearCharacters && i < ours.size(); ++i) {
    nearCharacters = platform[i] == ours[i] || ours[i] == '?';
  }
  std::string texts[2] = {platform, ours};
  for (std::string& text : texts) {
    text.erase(
        std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '?'; }),
        text.end());
  }
  return nearCharacters || texts[0] == texts[1];
}

// Every difference between the platform's INF view and ours, one per line; "" when they agree.
// Lines that differ only as the documentation says are counted in *documented.
std::string SectionDifferences(HINF platform, const InfFile& ours, unsigned* documented) {
  std::string differences;
  char name[512];
  UINT index = 0;
  for (; SetupEnumInfSectionsA(platform, index, name, sizeof name, NULL); ++index) {
    if (index >= ours.sections.size()) {
      return differences + "extra section [" + name + "]\n";
    }
    const InfSection& section = ours.sections[index];
    if (name != section.name) {
      differences +=
          "section " + std::to_string(index) + ": [" + name + "], ours [" + section.name + "]\n";
    }
    LONG count = SetupGetLineCountA(platform, name);
    if (count < 0 && strchr(name, '?') != nullptr) {
      continue; // a name with a character the code page lacks cannot be asked for
    }
    if (count != (LONG)section.lines.size()) {
      differences += "[" + std::string(name) + "] " + std::to_string(count) + " lines, ours " +
                     std::to_string(section.lines.size()) + "\n";
    }
    INFCONTEXT context;
    size_t line = 0;
    bool more = SetupFindFirstLineA(platform, name, NULL, &context);
    for (; more && line < section.lines.size();
         more = SetupFindNextLine(&context, &context), ++line) {
      std::string full;
      std::string text = PlatformLineText(&context, &full);
      std::string mine = InfLineText(ours, section.lines[line]);
      std::string where = "[" + std::string(name) + "] line " + std::to_string(line + 1);
      if (full != mine &&
          (NamesSystemDirectoryId(ours, section.lines[line]) || DiffersOnlyByBestFit(full, mine))) {
        ++*documented;
      } else if (full != mine) {
        differences += where + ": " + Shown(full) + ", ours " + Shown(mine) + "\n";
      } else if (text != (mine.size() <= kLineTextLimit ? mine : "<no fit>")) {
        differences += where + ": fits 256 bytes differently\n";
      }
    }
  }
  if (index != ours.sections.size()) {
    differences += "ours has " + std::to_string(ours.sections.size()) + " sections, the platform " +
                   std::to_string(index) + "\n";
  }
  return differences;
}

std::string KeyDifferences(const std::string& path, const IniFile& ours, unsigned* documented) {
  std::string differences;
  for (const IniSection& section : ours.sections) {
    std::vector<std::string> keys{"Missing", "Group1"};
    for (const IniKey& key : section.keys) {
      keys.push_back(key.name);
    }
    for (const std::string& key : keys) {
      if (section.name.empty() || key.empty() ||
          (section.name + key).find('?') != std::string::npos) {
        continue; // a name with a character the code page lacks may not be found again
      }
      char value[128];
      GetPrivateProfileStringA(section.name.c_str(), key.c_str(), "", value, sizeof value,
                               path.c_str());
      const IniKey* mine = FindIniKey(ours, section.name.c_str(), key.c_str());
      std::string expected = IniValueText(mine, sizeof value, nullptr);
      if (value != expected && DiffersOnlyByBestFit(value, expected)) {
        ++*documented;
      } else if (value != expected) {
        differences += "[" + section.name + "] " + Shown(key) + " = " + Shown(value) + ", ours " +
                       Shown(expected) + "\n";
      }
    }
  }
  return differences;
}

// The file at path, whose bytes are given, read both ways.
std::string Differences(const std::string& path, const std::string& bytes,
                        const std::string& folder, unsigned* documented) {
  if (WineReadsOtherwise(bytes.data(), bytes.size())) {
    ++*documented; // we read as Windows does, the platform here is Wine
    return "";
  }
  std::string differences;
  const unsigned char* mark = (const unsigned char*)bytes.data();
  wideFile = DecodeText(bytes.data(), bytes.size()) != bytes ||
             (bytes.size() >= 2 &&
              ((mark[0] == 0xFE && mark[1] == 0xFF) || (mark[0] == 0xFF && mark[1] == 0xFE)));
  InfFile ours;
  ours.folder = folder;
  ReadInf(bytes.data(), bytes.size(), &ours);
  HINF platform = SetupOpenInfFileA(path.c_str(), NULL, INF_STYLE_WIN4, NULL);
  if ((platform != INVALID_HANDLE_VALUE) != (ours.status == kInfOpened)) {
    differences += platform != INVALID_HANDLE_VALUE ? "the platform opens it, ours refuses it (" +
                                                          std::to_string(ours.status) + ")\n"
                                                    : "the platform refuses it, ours opens it\n";
  }
  if (platform != INVALID_HANDLE_VALUE && ours.status == kInfOpened) {
    differences += SectionDifferences(platform, ours, documented);
  }
  if (platform != INVALID_HANDLE_VALUE) {
    SetupCloseInfFile(platform);
  }
  IniFile ini;
  ReadIni(bytes.data(), bytes.size(), &ini);
  return differences + KeyDifferences(path, ini, documented);
}

TEST(InfReaderAgreesWithSetupApi, OnEveryCorpusFile) {
  std::vector<std::string> files = FilesMatching(CorpusFolder() + "*.inf");
  ASSERT_GE(files.size(), 10u) << "corpus not found in " << CorpusFolder();
  for (const std::string& file : files) {
    std::string path = CorpusFolder() + file;
    unsigned documented = 0;
    EXPECT_EQ("", Differences(path, ReadBytes(path), CorpusFolder(), &documented)) << file;
  }
}

// The corpus files written in code page 932, read where that is the system's code page: a second
// byte of "\\", "[", "]" or an ASCII letter is part of its character for the platform and for us.
TEST(InfReaderAgreesWithSetupApi, InCodePage932) {
  const std::string missing = MissingLocale("ja_JP.UTF-8", 932);
  if (!missing.empty()) {
    GTEST_SKIP() << missing;
  }
  std::string problem;
  ASSERT_TRUE(SelectCodePage(932, &problem)) << problem;
  std::vector<std::string> files = FilesMatching(CorpusFolder() + "cp932_*.inf");
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    std::string path = CorpusFolder() + file;
    unsigned documented = 0;
    EXPECT_EQ("", Differences(path, ReadBytes(path), CorpusFolder(), &documented)) << file;
  }
}

// ---- Generated files ----------------------------------------------------------------------------

// The real files the mutations start from: the corpus, the sample distribution and every case of
// the checker's own tests.
std::vector<std::string> Originals() {
  std::vector<std::string> texts;
  for (const std::string& file : FilesMatching(CorpusFolder() + "*.inf")) {
    texts.push_back(ReadBytes(CorpusFolder() + file));
  }
  texts.push_back(ReadBytes(WindowsSourcePath("examples/demo/SETUP.DAT")));
  std::string cases = WindowsSourcePath("tests/setupcheck/cases/");
  for (const std::string& name : FilesMatching(cases + "*")) {
    std::string text = ReadBytes(cases + name + "\\SETUP.DAT");
    if (!text.empty() && text.size() < 100000) {
      texts.push_back(text);
    }
  }
  return texts;
}

class Mutator {
public:
  explicit Mutator(unsigned seed) : random_(seed) {}

  size_t Below(size_t n) {
    return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(random_);
  }
  template <size_t N> const char* Pick(const char* const (&choices)[N]) {
    return choices[Below(N)];
  }

  // The start of a line at or before a random place.
  size_t LineStart(const std::string& text) {
    size_t at = Below(text.size() + 1);
    while (at > 0 && text[at - 1] != '\n') {
      --at;
    }
    return at;
  }
  size_t LineEnd(const std::string& text, size_t at) {
    size_t end = text.find('\n', at);
    return end == std::string::npos ? text.size() : end + 1;
  }

  std::string Names(const std::string& text) {
    // A key of the file, so that substitutions mostly find something.
    std::vector<std::string> keys;
    for (size_t at = 0; at < text.size();) {
      size_t end = LineEnd(text, at);
      size_t equals = text.find('=', at);
      if (equals != std::string::npos && equals < end && equals > at) {
        keys.push_back(text.substr(at, equals - at));
      }
      at = end;
    }
    static const char* const kNames[] = {"APPNAME", "appname", "NOPE",    "",    "1",
                                         "65600",   " 1",      "EXENAME", "Dir", "A%B"};
    return keys.empty() || Below(2) == 0 ? kNames[Below(10)] : keys[Below(keys.size())];
  }

  void Mutate(std::string* text, std::string* kinds) {
    size_t at = Below(text->size() + 1);
    size_t kind = Below(14);
    static const char* const kKinds[] = {"quote",   "continuation", "comment", "blanks", "string",
                                         "long",    "duplicate",    "line",    "ends",   "flip",
                                         "special", "truncate",     "strings", "key"};
    *kinds += std::string(kinds->empty() ? "" : " ") + kKinds[kind];
    switch (kind) {
    case 0: {
      static const char* const kQuotes[] = {"\"", "\"\"", "'", "\"\"\"", "\" \""};
      text->insert(at, Pick(kQuotes));
      break;
    }
    case 1: {
      static const char* const kBreaks[] = {"\\\n", "\\ \n",  "\\\t; c\n", "\\\\\n",
                                            "\\",   "\\\r\n", " \\\n  "};
      text->insert(at, Pick(kBreaks));
      break;
    }
    case 2: {
      static const char* const kComments[] = {";", "; c,\"=%x%\n", ";\n", " ;[x]", ";\\\n"};
      text->insert(Below(2) ? at : LineStart(*text), Pick(kComments));
      break;
    }
    case 3: {
      static const char* const kBlanks[] = {" ", "\t", "\v", "\f", "\r", "  \t ", "\x1a", "\r\r"};
      text->insert(at, Pick(kBlanks));
      break;
    }
    case 4:
      text->insert(at, Below(4) ? "%" + Names(*text) + "%" : std::string(1 + Below(3), '%'));
      break;
    case 5: {
      static const size_t kLengths[] = {120, 126, 127, 128, 250,  254,  255,
                                        256, 510, 511, 512, 4090, 4096, 4100};
      size_t length = kLengths[Below(14)] + Below(3);
      std::string fill = Below(3) ? std::string(length, (char)('a' + Below(26)))
                                  : std::string(length / 2, 'x') + "%APPNAME%";
      text->insert(at, fill);
      break;
    }
    case 6: { // a section again, whole or its header alone
      size_t start = text->find('[', Below(text->size() + 1));
      if (start == std::string::npos) {
        start = text->find('[');
      }
      if (start == std::string::npos) {
        break;
      }
      size_t end = text->find("\n[", start);
      end = end == std::string::npos ? text->size() : end + 1;
      std::string copy = Below(3) ? text->substr(start, end - start)
                                  : text->substr(start, LineEnd(*text, start) - start);
      if (copy.empty() || copy.back() != '\n') {
        copy += "\n";
      }
      size_t to = Below(2) ? text->size() : LineStart(*text);
      if (to == text->size() && !text->empty() && text->back() != '\n') {
        text->push_back('\n');
        to = text->size();
      }
      text->insert(to, copy);
      break;
    }
    case 7: { // a line duplicated, removed or swapped with the next
      size_t start = LineStart(*text);
      size_t end = LineEnd(*text, start);
      std::string line = text->substr(start, end - start);
      size_t choice = Below(3);
      if (choice == 0) {
        text->insert(start, line);
      } else if (choice == 1) {
        text->erase(start, end - start);
      } else if (end < text->size()) {
        std::string next = text->substr(end, LineEnd(*text, end) - end);
        text->replace(start, line.size() + next.size(), next + line);
      }
      break;
    }
    case 8: { // line ends
      size_t choice = Below(3);
      std::string changed;
      for (char c : *text) {
        if (c == '\n' && choice == 0) {
          changed += "\r\n";
        } else if (c == '\n' && choice == 1 && Below(4) == 0) {
          changed += " \r\n";
        } else if (c == '\r' && choice == 2) {
          continue;
        } else {
          changed += c;
        }
      }
      *text = changed;
      break;
    }
    case 9:
      if (!text->empty()) {
        (*text)[Below(text->size())] ^= (char)(1 << Below(8));
      }
      break;
    case 10: {
      static const char* const kSpecial[] = {"=",  ",",  "[",  "]",    "" /* a zero byte */,
                                             "\\", "==", ",,", "\xA0", "\xFF"};
      const char* special = Pick(kSpecial);
      text->insert(at, special[0] == '\0' ? std::string(1, '\0') : std::string(special));
      break;
    }
    case 11:
      if (Below(4) == 0) {
        text->resize(at);
      }
      break;
    case 12: { // [Strings] gains a key whose value refers to others
      size_t strings = text->find("[Strings]");
      std::string entry = Names(*text) + "=" +
                          (Below(2) ? "%" + Names(*text) + "%x" : "\"q%" + Names(*text) + "%\"") +
                          "\n";
      if (strings == std::string::npos) {
        *text += "\n[Strings]\n" + entry;
      } else {
        text->insert(LineEnd(*text, strings), entry);
      }
      break;
    }
    case 13: { // a key or line written with blanks and quotes around its parts
      size_t start = LineStart(*text);
      size_t equals = text->find('=', start);
      if (equals != std::string::npos && equals < LineEnd(*text, start)) {
        static const char* const kAround[] = {" = ", "\t=", "=\"", "\"=\"", " =  \t"};
        text->replace(equals, 1, Pick(kAround));
      }
      break;
    }
    }
  }

private:
  std::mt19937 random_;
};

unsigned EnvironmentNumber(const char* name, unsigned fallback) {
  char text[32];
  DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  return length > 0 && length < sizeof text ? (unsigned)strtoul(text, NULL, 10) : fallback;
}

std::string EnvironmentText(const char* name) {
  char text[MAX_PATH];
  DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  return length > 0 && length < sizeof text ? text : "";
}

TEST(InfReaderAgreesWithSetupApi, OnGeneratedFiles) {
  const unsigned count = EnvironmentNumber("INF_DIFF_COUNT", 150);
  const unsigned seed = EnvironmentNumber("INF_DIFF_SEED", 1);
  const std::string keep = EnvironmentText("INF_DIFF_KEEP");
  std::vector<std::string> originals = Originals();
  ASSERT_GE(originals.size(), 20u);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + "kvs-inf-diff-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL)) << folder;
  folder += "\\";

  Mutator mutator(seed);
  unsigned differing = 0, opened = 0, documented = 0;
  size_t bytes = 0, lines = 0;
  unsigned documentedFiles = 0;
  DWORD start = GetTickCount();
  for (unsigned i = 0; i < count; ++i) {
    std::string text = originals[mutator.Below(originals.size())];
    std::string kinds;
    for (size_t n = 1 + mutator.Below(4); n > 0; --n) {
      mutator.Mutate(&text, &kinds);
    }
    // A fresh name for every file: the platform caches the INI file it read last.
    std::string path = folder + "g" + std::to_string(i) + ".inf";
    ASSERT_TRUE(WriteBytes(path, text));
    unsigned before = documented;
    std::string differences = Differences(path, text, folder, &documented);
    documentedFiles += documented != before;
    InfFile inf;
    ReadInf(text.data(), text.size(), &inf);
    opened += inf.status == kInfOpened;
    for (const InfSection& section : inf.sections) {
      lines += section.lines.size();
    }
    bytes += text.size();
    if (!differences.empty()) {
      ++differing;
      ADD_FAILURE() << "file " << i << " (seed " << seed << "; " << kinds << "):\n"
                    << differences.substr(0, 2000);
      if (!keep.empty()) {
        CopyFileA(path.c_str(), (keep + "\\g" + std::to_string(i) + ".inf").c_str(), FALSE);
      }
    }
    DeleteFileA(path.c_str());
  }
  RemoveDirectoryA(folder.c_str());
  printf("[inf-diff] seed %u: %u files (%u opened as INF), %lu bytes, %lu INF lines, %u differ, "
         "%u with %u lines or values read differently as documented, %lu ms\n",
         seed, count, opened, (unsigned long)bytes, (unsigned long)lines, differing,
         documentedFiles, documented, (unsigned long)(GetTickCount() - start));
}

} // namespace
