// Our portable INF and INI reader against the platform's: for every file of the corpus, the same
// open result, the same sections, the same line texts as SetupGetLineTextA (including which lines
// do not fit 256 bytes) and the same values as GetPrivateProfileStringA.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inf_reader.h"

namespace {

std::string CorpusFolder() {
  std::string folder = "Z:" SOURCE_DIR "/tests/setupcheck/inf_corpus/";
  for (char& c : folder) {
    c = c == '/' ? '\\' : c;
  }
  return folder;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((CorpusFolder() + "*.inf").c_str(), &found);
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

void CompareSections(HINF platform, const InfFile& ours) {
  char name[512];
  UINT index = 0;
  while (SetupEnumInfSectionsA(platform, index, name, sizeof name, NULL)) {
    ASSERT_LT(index, ours.sections.size()) << "extra section " << name;
    const InfSection& section = ours.sections[index];
    EXPECT_EQ(name, section.name);
    INFCONTEXT context;
    size_t line = 0;
    bool more = SetupFindFirstLineA(platform, name, NULL, &context);
    for (; more; more = SetupFindNextLine(&context, &context), ++line) {
      ASSERT_LT(line, section.lines.size()) << "section " << name;
      std::string full;
      std::string text = PlatformLineText(&context, &full);
      std::string mine = InfLineText(ours, section.lines[line]);
      EXPECT_EQ(full, mine) << "[" << name << "] line " << line + 1;
      EXPECT_EQ(text, mine.size() <= kLineTextLimit ? mine : "<no fit>")
          << "[" << name << "] line " << line + 1;
    }
    EXPECT_EQ(line, section.lines.size()) << "section " << name;
    ++index;
  }
  EXPECT_EQ(index, ours.sections.size());
}

void CompareKeys(const std::string& path, const IniFile& ours) {
  for (const IniSection& section : ours.sections) {
    std::vector<std::string> keys{"Missing", "Group1"};
    for (const IniKey& key : section.keys) {
      keys.push_back(key.name);
    }
    for (const std::string& key : keys) {
      if (section.name.empty() || key.empty()) {
        continue;
      }
      char value[128];
      GetPrivateProfileStringA(section.name.c_str(), key.c_str(), "", value, sizeof value,
                               path.c_str());
      const IniKey* mine = FindIniKey(ours, section.name.c_str(), key.c_str());
      EXPECT_EQ(value, IniValueText(mine, sizeof value, nullptr))
          << "[" << section.name << "] " << key;
    }
  }
}

TEST(InfReaderAgreesWithSetupApi, OnEveryCorpusFile) {
  std::vector<std::string> files = CorpusFiles();
  ASSERT_GE(files.size(), 10u) << "corpus not found in " << CorpusFolder();
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::string path = CorpusFolder() + file;
    std::string bytes = ReadBytes(path);
    InfFile ours;
    ours.folder = CorpusFolder();
    ReadInf(bytes.data(), bytes.size(), &ours);
    HINF platform = SetupOpenInfFileA(path.c_str(), NULL, INF_STYLE_WIN4, NULL);
    EXPECT_EQ(platform != INVALID_HANDLE_VALUE, ours.status == kInfOpened);
    if (platform != INVALID_HANDLE_VALUE && ours.status == kInfOpened) {
      CompareSections(platform, ours);
    }
    if (platform != INVALID_HANDLE_VALUE) {
      SetupCloseInfFile(platform);
    }
    IniFile ini;
    ReadIni(bytes.data(), bytes.size(), &ini);
    CompareKeys(path, ini);
  }
}

} // namespace
