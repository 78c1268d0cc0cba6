// Each built program's manifest and version information, read back from its file as the system
// and Explorer read them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

struct Program {
  std::string path;
  const char* fileName;
  const char* internalName;
  const char* description;
  const char* level;
  bool dpiAware;
};

std::vector<Program> Programs() {
  return {
      {SetupExePath(), "setup.exe", "setup", "Kelvara Setup", "requireAdministrator", true},
      {BuildFolder() + "\\uninstall.exe", "uninstall.exe", "uninstall", "Kelvara Setup removal",
       "requireAdministrator", true},
      {BuildFolder() + "\\src\\setupcheck\\setupcheck.exe", "setupcheck.exe", "setupcheck",
       "Kelvara Setup distribution checker", "asInvoker", false},
  };
}

std::string Manifest(const std::string& path) {
  HMODULE module = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) {
    return "";
  }
  std::string text;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
  HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
  if (loaded != NULL) {
    text.assign((const char*)LockResource(loaded), SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

std::string VersionValue(const std::vector<char>& info, const std::string& name) {
  char* value = nullptr;
  UINT length = 0;
  std::string key = "\\StringFileInfo\\080904E4\\" + name;
  if (!VerQueryValueA(info.data(), key.c_str(), (void**)&value, &length) || length == 0) {
    return "<none>";
  }
  return std::string(value, strnlen(value, length));
}

TEST(ProgramInfo, ManifestAsksForTheRightsAndNamesTheSystems) {
  const char* systems[] = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
                           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}; // 10 and 11
  for (const Program& program : Programs()) {
    SCOPED_TRACE(program.path);
    std::string manifest = Manifest(program.path);
    ASSERT_NE("", manifest);
    EXPECT_NE(std::string::npos, manifest.find(std::string("<requestedExecutionLevel level=\"") +
                                               program.level + "\" uiAccess=\"false\"/>"));
    for (const char* id : systems) {
      EXPECT_NE(std::string::npos, manifest.find(std::string("<supportedOS Id=\"") + id + "\"/>"))
          << id;
    }
    bool dpiAware = manifest.find(">true</dpiAware>") != std::string::npos;
    EXPECT_EQ(program.dpiAware, dpiAware);
    // Classic controls: no visual styles.
    EXPECT_EQ(std::string::npos, manifest.find("Common-Controls"));
  }
}

TEST(ProgramInfo, VersionInformationNamesTheProgramAndTheProjectVersion) {
  DWORD major = 0, minor = 0, patch = 0;
  ASSERT_EQ(3, sscanf(PROJECT_VERSION_TEXT, "%lu.%lu.%lu", &major, &minor, &patch));
  for (const Program& program : Programs()) {
    SCOPED_TRACE(program.path);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(program.path.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(program.path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void**)&fixed, &length));
    EXPECT_EQ(MAKELONG(minor, major), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, patch), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ((DWORD)VFT_APP, fixed->dwFileType);
    // One translation: the dialogs' language (English, United Kingdom) in the ANSI code page 1252.
    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void**)&translation, &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0809, translation[0]);
    EXPECT_EQ(1252, translation[1]);
    EXPECT_EQ(PROJECT_VERSION_TEXT, VersionValue(info, "FileVersion"));
    EXPECT_EQ(PROJECT_VERSION_TEXT, VersionValue(info, "ProductVersion"));
    EXPECT_EQ("Kelvara Setup", VersionValue(info, "ProductName"));
    EXPECT_EQ(program.description, VersionValue(info, "FileDescription"));
    EXPECT_EQ(program.internalName, VersionValue(info, "InternalName"));
    EXPECT_EQ(program.fileName, VersionValue(info, "OriginalFilename"));
    EXPECT_EQ("<none>", VersionValue(info, "CompanyName")); // the project names no vendor
  }
}

} // namespace
