// Each built program's manifest and version information, read back from its file as the system
// and Explorer read them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

std::string Manifest(const std::string& path) {
  HMODULE module = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module != NULL ? FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) : NULL;
  std::string text;
  if (found != NULL) {
    text.assign((const char*)LockResource(LoadResource(module, found)),
                SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

std::string Value(const std::vector<char>& info, const std::string& name) {
  char* value = nullptr;
  UINT length = 0;
  return VerQueryValueA(info.data(), ("\\StringFileInfo\\080904E4\\" + name).c_str(),
                        (void**)&value, &length)
             ? std::string(value, strnlen(value, length))
             : "<none>";
}

TEST(ProgramInfo, ManifestAndVersionInformationOfEachProgram) {
  struct {
    std::string path;
    const char *name, *description, *level;
    bool dpiAware;
  } programs[] = {
      {SetupExePath(), "setup", "Kelvara Setup", "requireAdministrator", true},
      {BuildFolder() + "\\uninstall.exe", "uninstall", "Kelvara Setup removal",
       "requireAdministrator", true},
      {BuildFolder() + "\\src\\setupcheck\\setupcheck.exe", "setupcheck",
       "Kelvara Setup distribution checker", "asInvoker", false},
  };
  DWORD major = 0, minor = 0, patch = 0;
  ASSERT_EQ(3, sscanf(PROJECT_VERSION_TEXT, "%lu.%lu.%lu", &major, &minor, &patch));
  for (const auto& program : programs) {
    SCOPED_TRACE(program.path);
    std::string manifest = Manifest(program.path);
    EXPECT_NE(std::string::npos, manifest.find(std::string("<requestedExecutionLevel level=\"") +
                                               program.level + "\" uiAccess=\"false\"/>"));
    // Vista, 7, 8, 8.1, 10 and 11.
    for (const char* id :
         {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
          "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
          "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
      EXPECT_NE(std::string::npos,
                manifest.find(std::string("<supportedOS Id=\"{") + id + "}\"/>"));
    }
    EXPECT_EQ(program.dpiAware, manifest.find(">true</dpiAware>") != std::string::npos);
    EXPECT_EQ(std::string::npos, manifest.find("Common-Controls")); // classic controls

    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(program.path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(program.path.c_str(), 0, info.size(), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void**)&fixed, &length));
    EXPECT_EQ(MAKELONG(minor, major), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, patch), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    // The dialogs' language (English, United Kingdom) in code page 1252.
    ASSERT_TRUE(
        VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void**)&translation, &length));
    EXPECT_EQ(MAKELONG(0x0809, 1252), *(DWORD*)translation);
    EXPECT_EQ(PROJECT_VERSION_TEXT, Value(info, "FileVersion"));
    EXPECT_EQ(PROJECT_VERSION_TEXT, Value(info, "ProductVersion"));
    EXPECT_EQ("Kelvara Setup", Value(info, "ProductName"));
    EXPECT_EQ(program.description, Value(info, "FileDescription"));
    EXPECT_EQ(program.name, Value(info, "InternalName"));
    EXPECT_EQ(std::string(program.name) + ".exe", Value(info, "OriginalFilename"));
    EXPECT_EQ("<none>", Value(info, "CompanyName")); // the project names no vendor
  }
}

} // namespace
