// Files, folders, registry keys and distributions for tests, all set up and removed by the test.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A Linux path as Wine sees it on drive Z:.
std::string WindowsPath(const std::string& unixPath);
std::string SourcePath(const std::string& relative); // below the source tree
std::string BuildFolder();                           // the folder of setup.exe
std::string SetupExePath();

std::string JoinPath(const std::string& folder, const std::string& name);
void WriteTextFile(const std::string& path, const std::string& contents);
std::string ReadTextFile(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
void MakeFolders(const std::string& path); // with every missing parent
// Calls visit for every entry of folder but "." and "..".
void ForEachEntry(const std::string& folder,
                  const std::function<void(const WIN32_FIND_DATAA& entry)>& visit);
// The names of folder's entries, sorted and each followed by a space.
std::string EntryNames(const std::string& folder);
void CopyTree(const std::string& from, const std::string& to);
void DeleteTree(const std::string& path);

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder {
public:
  explicit TempFolder(const std::string& hint = "t");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const {
    return path_;
  }
  std::string operator/(const std::string& name) const {
    return JoinPath(path_, name);
  }

private:
  std::string path_;
};

// A distribution folder: SETUP.DAT and source files.
class Distribution {
public:
  Distribution();
  const std::string& Path() const {
    return folder_.Path();
  }
  std::string File(const std::string& relative) const {
    return folder_ / relative;
  }
  void SetSetupDat(const std::string& text) const;
  void AddFile(const std::string& relative, const std::string& contents) const;
  // The bundled example, copied.
  void CopyExample(const std::string& name = "demo") const;
  // setup.exe beside SETUP.DAT; returns its path.
  std::string AddSetupExe() const;

private:
  TempFolder folder_;
};

// Points the loader at a folder instead of the test executable's own (restored on destruction).
class ScopedModuleFolder {
public:
  explicit ScopedModuleFolder(const std::string& folderWithSeparator);
  ~ScopedModuleFolder();
};

// The drive letter ("S:") that scripts/test.sh mapped for a test drive, named by its variable
// ("SMALL_DRIVE": 1 MiB; "READONLY_DRIVE": read-only, holding keep.txt), or null; and why the
// drives are missing, for a test's skip message.
const char* TestDrive(const char* variable);
std::string MissingTestDrivesReason();

// Why a test of a double-byte code page cannot run here, or "": it runs under the locale (CTest
// sets LC_ALL) whose ANSI code page Wine takes, and that locale must exist where LOCPATH points
// (scripts/lib.sh generates it) for Wine to encode host file names.
std::string MissingLocale(const char* locale, UINT codePage);

// installState and the progress counters back to their start-up values.
void ResetInstallState();

// A plain top-level window to own dialogs in in-process tests.
class TestOwner {
public:
  TestOwner();
  ~TestOwner();
  HWND Window() const {
    return window_;
  }

private:
  HWND window_;
};

// The registry view the helpers below use: 0 for this program's own, KEY_WOW64_32KEY to see
// what the 32-bit setup.exe sees when tests run as 64-bit programs.
extern REGSAM registryView;

// Registry helpers. Keys a test creates are removed with everything below them.
class ScopedRegistryKey {
public:
  ScopedRegistryKey(HKEY root, const std::string& path);
  ~ScopedRegistryKey();
  void SetString(const std::string& name, const std::string& value) const;
  void SetRaw(const std::string& name, DWORD type, const void* data, DWORD size) const;

private:
  HKEY root_;
  std::string path_;
};

bool ReadRegistryValue(HKEY root, const std::string& path, const std::string& name,
                       std::string* data, DWORD* type = nullptr);
bool RegistryKeyExists(HKEY root, const std::string& path);
// Writes a REG_SZ value, creating the key if needed; an existing key is kept.
void SetRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& value);
void DeleteRegistryValue(HKEY root, const std::string& path, const std::string& name);
void DeleteRegistryTree(HKEY root, const std::string& path);

// The keys the finishing steps write to: the current user's Shell Folders, and RunOnce under
// HKEY_LOCAL_MACHINE.
extern const char kShellFolders[];
extern const char kRunOnce[];

// A value of the current user's Shell Folders key ("Programs", "Desktop"), or "".
std::string ShellFolder(const char* name);

// A shell link file read back through IShellLinkA.
struct Link {
  bool loaded = false;
  std::string path, workingDirectory;
  int showCommand = 0;
};
Link ReadLink(const std::string& file);

// Saves a registry value (or its absence) and restores it when the test ends.
class SavedRegistryValue {
public:
  SavedRegistryValue(HKEY root, const std::string& path, const std::string& name);
  ~SavedRegistryValue();

private:
  HKEY root_;
  std::string path_, name_, data_;
  DWORD type_ = 0;
  bool existed_ = false;
};
