#include "test_support.h"

#include <objbase.h>
#include <algorithm>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "setup_script/install_state.h"
#include "setup_script/setup_api.h"
#include "setup_script/setup_script.h"
#include "shell/host_window.h"
#include "setup_script/system_libraries.h"
#include "ui/progress_dialog.h"

REGSAM registryView = 0;

// The system libraries the installer's code calls through, looked up as setup.exe does at its
// start, before any test runs.
static const int librariesLoaded = LoadSetupApi() && LoadCommonControls();

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
  return path;
}

std::string SourcePath(const std::string& relative) {
  return WindowsPath(std::string(SOURCE_DIR) + "/" + relative);
}

std::string BuildFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(NULL, path, MAX_PATH);
  std::string exe = path;
  std::string testsFolder = exe.substr(0, exe.find_last_of('\\'));
  return testsFolder.substr(0, testsFolder.find_last_of('\\'));
}

std::string SetupExePath() {
  // The setup.exe the test run names; else the one in the build folder.
  char fromEnvironment[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("SETUP_EXE", fromEnvironment, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    return fromEnvironment[0] == '/' ? WindowsPath(fromEnvironment) : fromEnvironment;
  }
  return BuildFolder() + "\\setup.exe";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  // The last character, not the last byte: in a double-byte code page that may be a trail byte.
  const char* end = folder.c_str() + folder.size();
  if (!folder.empty() && *CharPrevA(folder.c_str(), end) == '\\') {
    return folder + name;
  }
  return folder + "\\" + name;
}

void WriteTextFile(const std::string& path, const std::string& contents) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD written = 0;
  WriteFile(file, contents.data(), (DWORD)contents.size(), &written, NULL);
  CloseHandle(file);
}

std::string ReadTextFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return "<missing>";
  }
  std::string contents;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, NULL) && read > 0) {
    contents.append(buffer, read);
  }
  CloseHandle(file);
  return contents;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MakeFolders(const std::string& path) {
  for (const char* at = path.c_str();; at = CharNextA(at)) {
    size_t i = at - path.c_str();
    if (i >= 3 && (*at == '\\' || *at == '\0')) {
      CreateDirectoryA(path.substr(0, i).c_str(), NULL);
    }
    if (*at == '\0') {
      break;
    }
  }
}

void ForEachEntry(const std::string& folder,
                  const std::function<void(const WIN32_FIND_DATAA& entry)>& visit) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(JoinPath(folder, "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
      visit(found);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

std::string EntryNames(const std::string& folder) {
  std::vector<std::string> names;
  ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) { names.push_back(entry.cFileName); });
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& name : names) {
    joined += name + " ";
  }
  return joined;
}

void CopyTree(const std::string& from, const std::string& to) {
  MakeFolders(to);
  ForEachEntry(from, [&](const WIN32_FIND_DATAA& entry) {
    const std::string name = entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CopyTree(from + "\\" + name, to + "\\" + name);
    } else {
      CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
    }
  });
}

void DeleteTree(const std::string& path) {
  ForEachEntry(path, [&](const WIN32_FIND_DATAA& entry) {
    const std::string child = path + "\\" + entry.cFileName;
    SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      DeleteTree(child);
    } else {
      DeleteFileA(child.c_str());
    }
  });
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(path.c_str());
}

TempFolder::TempFolder(const std::string& hint) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  static unsigned counter = 0;
  for (;;) {
    std::string candidate = std::string(temp) + "kvs-" + hint + "-" +
                            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA(candidate.c_str(), NULL)) {
      path_ = candidate;
      return;
    }
  }
}

TempFolder::~TempFolder() {
  DeleteTree(path_);
}

Distribution::Distribution() : folder_("dist") {}

void Distribution::SetSetupDat(const std::string& text) const {
  WriteTextFile(File("SETUP.DAT"), text);
}

void Distribution::AddFile(const std::string& relative, const std::string& contents) const {
  std::string path = File(relative);
  MakeFolders(path.substr(0, path.find_last_of('\\')));
  WriteTextFile(path, contents);
}

void Distribution::CopyExample(const std::string& name) const {
  CopyTree(SourcePath("examples/" + name), Path());
}

std::string Distribution::AddSetupExe() const {
  std::string exe = File("setup.exe");
  CopyFileA(SetupExePath().c_str(), exe.c_str(), FALSE);
  return exe;
}

namespace {
std::string testModuleFolder;
int LocateTestFolder(char* folder) {
  lstrcpynA(folder, testModuleFolder.c_str(), MAX_PATH);
  return testModuleFolder.size() < MAX_PATH;
}
} // namespace

ScopedModuleFolder::ScopedModuleFolder(const std::string& folderWithSeparator) {
  testModuleFolder = folderWithSeparator;
  moduleFolderLocator = LocateTestFolder;
}

ScopedModuleFolder::~ScopedModuleFolder() {
  moduleFolderLocator = LocateExecutableFolder;
}

const char* TestDrive(const char* variable) {
  return getenv(variable);
}

std::string MissingTestDrivesReason() {
  const char* why = getenv("TEST_DRIVES_UNAVAILABLE");
  return why != nullptr ? why : "no test drives: run the tests through scripts/test.sh";
}

std::string MissingLocale(const char* locale, UINT codePage) {
  char folder[MAX_PATH] = "";
  GetEnvironmentVariableA("LOCPATH", folder, MAX_PATH);
  if (GetACP() != codePage || !FileExists(WindowsPath(folder) + "\\" + locale + "\\LC_CTYPE")) {
    const char* why = getenv("KVS_LOCALES_UNAVAILABLE");
    return std::string("needs the locale ") + locale + " generated and set (scripts/test.sh): " +
           (why != nullptr ? why : "code page " + std::to_string(GetACP()) + ", LOCPATH " + folder);
  }
  return "";
}

void ResetInstallState() {
  HINSTANCE instance = GetModuleHandleA(NULL);
  memset(&installState, 0, sizeof installState);
  installState.instance = instance;
  progressTotal = 0;
  progressCount = 0;
  progressFrameInterval = kProgressFrameFollowsCost;
  positionLocked = 0;
}

TestOwner::TestOwner() {
  window_ = CreateWindowExA(0, "STATIC", "test owner", WS_OVERLAPPED, 0, 0, 100, 100, NULL, NULL,
                            GetModuleHandleA(NULL), NULL);
}

TestOwner::~TestOwner() {
  DestroyWindow(window_);
}

ScopedRegistryKey::ScopedRegistryKey(HKEY root, const std::string& path)
    : root_(root), path_(path) {
  HKEY key;
  if (RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | registryView, NULL, &key,
                      NULL) == ERROR_SUCCESS) {
    RegCloseKey(key);
  }
}

ScopedRegistryKey::~ScopedRegistryKey() {
  DeleteRegistryTree(root_, path_);
}

void ScopedRegistryKey::SetString(const std::string& name, const std::string& value) const {
  SetRaw(name, REG_SZ, value.c_str(), (DWORD)value.size() + 1);
}

void ScopedRegistryKey::SetRaw(const std::string& name, DWORD type, const void* data,
                               DWORD size) const {
  HKEY key;
  if (RegOpenKeyExA(root_, path_.c_str(), 0, KEY_SET_VALUE | registryView, &key) == ERROR_SUCCESS) {
    RegSetValueExA(key, name.c_str(), 0, type, (const BYTE*)data, size);
    RegCloseKey(key);
  }
}

bool ReadRegistryValue(HKEY root, const std::string& path, const std::string& name,
                       std::string* data, DWORD* type) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE | registryView, &key) != ERROR_SUCCESS) {
    return false;
  }
  char buffer[4096];
  DWORD size = sizeof buffer;
  DWORD valueType = 0;
  bool found =
      RegQueryValueExA(key, name.c_str(), NULL, &valueType, (BYTE*)buffer, &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (found) {
    data->assign(buffer, size);
    if (type != nullptr) {
      *type = valueType;
    }
  }
  return found;
}

void SetRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& value) {
  HKEY key;
  if (RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_SET_VALUE | registryView, NULL, &key,
                      NULL) == ERROR_SUCCESS) {
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, (const BYTE*)value.c_str(),
                   (DWORD)value.size() + 1);
    RegCloseKey(key);
  }
}

bool RegistryKeyExists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | registryView, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void DeleteRegistryValue(HKEY root, const std::string& path, const std::string& name) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE | registryView, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
  }
}

void DeleteRegistryTree(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | registryView, &key) == ERROR_SUCCESS) {
    char name[256];
    for (;;) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
        break;
      }
      DeleteRegistryTree(key, name);
    }
    RegCloseKey(key);
  }
  // Deleted through its parent opened in the chosen view, so the view applies to the delete too.
  size_t split = path.find_last_of('\\');
  if (split == std::string::npos) {
    RegDeleteKeyA(root, path.c_str());
    return;
  }
  HKEY parent;
  if (RegOpenKeyExA(root, path.substr(0, split).c_str(), 0, KEY_ALL_ACCESS | registryView,
                    &parent) == ERROR_SUCCESS) {
    RegDeleteKeyA(parent, path.substr(split + 1).c_str());
    RegCloseKey(parent);
  }
}

SavedRegistryValue::SavedRegistryValue(HKEY root, const std::string& path, const std::string& name)
    : root_(root), path_(path), name_(name) {
  existed_ = ReadRegistryValue(root, path, name, &data_, &type_);
}

SavedRegistryValue::~SavedRegistryValue() {
  if (existed_) {
    HKEY key;
    if (RegCreateKeyExA(root_, path_.c_str(), 0, NULL, 0, KEY_SET_VALUE | registryView, NULL, &key,
                        NULL) == ERROR_SUCCESS) {
      RegSetValueExA(key, name_.c_str(), 0, type_, (const BYTE*)data_.data(), (DWORD)data_.size());
      RegCloseKey(key);
    }
  } else {
    DeleteRegistryValue(root_, path_, name_);
  }
}

const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::string ShellFolder(const char* name) {
  std::string value;
  ReadRegistryValue(HKEY_CURRENT_USER, kShellFolders, name, &value);
  return value.c_str();
}

Link ReadLink(const std::string& file) {
  Link link;
  CoInitialize(NULL);
  IShellLinkA* shellLink = NULL;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 (void**)&shellLink))) {
    IPersistFile* persist = NULL;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, (void**)&persist))) {
      WCHAR wide[MAX_PATH];
      MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
      if (SUCCEEDED(persist->Load(wide, STGM_READ))) {
        char text[MAX_PATH] = "";
        shellLink->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH);
        link.path = text;
        shellLink->GetWorkingDirectory(text, MAX_PATH);
        link.workingDirectory = text;
        shellLink->GetShowCmd(&link.showCommand);
        link.loaded = true;
      }
      persist->Release();
    }
    shellLink->Release();
  }
  CoUninitialize();
  return link;
}
