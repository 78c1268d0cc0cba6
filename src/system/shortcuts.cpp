#include "shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include "../setup_script/install_state.h"
#include "../setup_script/text_rules.h"

enum { kShortcutPathSize = 256 };

// The identifiers are spelled out so no GUID library has to be linked.
static const GUID kClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID kIidShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID kIidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

int ReadShellFolder(char* folder, const char* valueName) {
  folder[0] = '\0';
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                    KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    char value[kShortcutPathSize];
    DWORD size = kShortcutPathSize - 1; // a longer value fails the query and counts as missing
    if (RegQueryValueExA(key, valueName, NULL, NULL, (BYTE*)value, &size) == ERROR_SUCCESS &&
        size < kShortcutPathSize) {
      value[size] = '\0';
      CopyText(folder, kShortcutPathSize, value);
    }
    RegCloseKey(key);
  }
  return folder[0] != '\0';
}

// Runs use on a new shell link object and its file interface, inside one initialisation of the
// component library; whatever was obtained is released again. 0 when either cannot be had.
struct LinkPaths {
  const char* link;
  char* target;
};
static int WithShellLink(int (*use)(IShellLinkA* link, IPersistFile* file, const LinkPaths* paths),
                         const LinkPaths* paths) {
  int result = 0;
  CoInitialize(NULL);
  IShellLinkA* link = NULL;
  if (SUCCEEDED(CoCreateInstance(kClsidShellLink, NULL, CLSCTX_INPROC_SERVER, kIidShellLinkA,
                                 (void**)&link))) {
    IPersistFile* file = NULL;
    if (SUCCEEDED(link->QueryInterface(kIidPersistFile, (void**)&file))) {
      result = use(link, file, paths);
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  return result;
}

static int SaveProgramLink(IShellLinkA* link, IPersistFile* file, const LinkPaths* paths) {
  // The results are not looked at: each call is made whether or not the one before succeeded.
  link->SetWorkingDirectory(installState.destinationFolder);
  link->SetPath(paths->target);
  link->SetShowCmd(SW_SHOWNORMAL);
  WCHAR widePath[MAX_PATH];
  widePath[0] = L'\0';
  MultiByteToWideChar(CP_ACP, 0, paths->link, -1, widePath, MAX_PATH);
  file->Save(widePath, TRUE);
  return 1;
}

void CreateProgramShortcut(const char* valueName) {
  char folder[kShortcutPathSize];
  if (!ReadShellFolder(folder, valueName)) {
    return;
  }
  // Names that do not fit their buffers are refused: no shortcut rather than a wrong one.
  char linkPath[kShortcutPathSize];
  char targetPath[kShortcutPathSize];
  if (!FormatText(linkPath, sizeof linkPath, "%s\\%s.lnk", folder, installState.appName) ||
      !FormatText(targetPath, sizeof targetPath, "%s\\%s.exe", installState.destinationFolder,
                  installState.exeName)) {
    return;
  }
  LinkPaths paths = {linkPath, targetPath};
  WithShellLink(SaveProgramLink, &paths);
}

static int LoadLinkTarget(IShellLinkA* link, IPersistFile* file, const LinkPaths* paths) {
  WCHAR widePath[MAX_PATH];
  return MultiByteToWideChar(CP_ACP, 0, paths->link, -1, widePath, MAX_PATH) != 0 &&
         SUCCEEDED(file->Load(widePath, STGM_READ)) &&
         link->GetPath(paths->target, MAX_PATH, NULL, SLGP_RAWPATH) == S_OK;
}

int ReadShortcutTarget(const char* linkPath, char* target) {
  LinkPaths paths = {linkPath, target};
  return WithShellLink(LoadLinkTarget, &paths);
}
