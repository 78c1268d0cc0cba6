#include "setting_removal.h"

#include <windows.h>

#include "../setup_script/install_state.h"
#include "../setup_script/registry_line_flags.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/text_rules.h"
#include "uninstall_state.h"

static const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Calls visit for every line of every section that default_install names under key.
static void ForEachNamedLine(const char* key, void (*visit)(INFCONTEXT* line)) {
  INFCONTEXT entry;
  int more = FindFirstLine(installState.infHandle, "default_install", &entry);
  for (; more; more = FindNextLine(&entry)) {
    char name[kValueSize];
    if (!GetLineField(&entry, 0, name, sizeof name) || !EqualIgnoringAsciiCase(name, key)) {
      continue;
    }
    DWORD count = GetLineFieldCount(&entry);
    for (DWORD i = 1; i <= count; ++i) {
      char section[kLineSize];
      if (!GetLineField(&entry, i, section, sizeof section) || section[0] == '\0') {
        continue;
      }
      INFCONTEXT line;
      for (int found = FindFirstLine(installState.infHandle, section, &line); found;
           found = FindNextLine(&line)) {
        visit(&line);
      }
    }
  }
}

static HKEY RootKey(const char* name) {
  if (EqualIgnoringAsciiCase(name, "HKCR")) {
    return HKEY_CLASSES_ROOT;
  }
  if (EqualIgnoringAsciiCase(name, "HKCU")) {
    return HKEY_CURRENT_USER;
  }
  if (EqualIgnoringAsciiCase(name, "HKLM")) {
    return HKEY_LOCAL_MACHINE;
  }
  if (EqualIgnoringAsciiCase(name, "HKU")) {
    return HKEY_USERS;
  }
  return NULL; // HKR had no key root at the install, and other roots were skipped
}

static int DeleteKeyIfEmpty(HKEY root, const char* path) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return 1; // gone already: its parent may be empty
  }
  DWORD subkeys = 1;
  DWORD values = 1;
  LONG result = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL,
                                 NULL, NULL);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && subkeys == 0 && values == 0 &&
         RegDeleteKeyA(root, path) == ERROR_SUCCESS;
}

// The line's key and its parents while they are empty; a key directly under the root (such as
// Software) is never removed.
static void DeleteEmptyKeys(HKEY root, const char* subkey) {
  char path[kLineSize];
  if (!CopyText(path, sizeof path, subkey)) {
    return;
  }
  for (char* last = LastSeparator(path); last != NULL; last = LastSeparator(path)) {
    if (!DeleteKeyIfEmpty(root, path)) {
      return;
    }
    *last = '\0';
  }
}

static int IsNamedString(INFCONTEXT* line, const char* text) {
  DWORD count = GetLineFieldCount(line);
  for (DWORD i = 5; i <= count; ++i) {
    char named[kLineSize];
    if (GetLineField(line, i, named, sizeof named) && lstrcmpA(named, text) == 0) {
      return 1;
    }
  }
  return 0;
}

// A line that appended to a list takes back its own strings; the list goes when nothing else is
// left in it.
static void RemoveListStrings(HKEY key, const char* name, INFCONTEXT* line) {
  char list[4096];
  char kept[4096];
  DWORD size = sizeof list - 2;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, NULL, &type, (BYTE*)list, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return;
  }
  list[size] = '\0';
  list[size + 1] = '\0';
  DWORD used = 0;
  for (char* text = list; *text != '\0' && text < list + size; text += TextLength(text) + 1) {
    if (!IsNamedString(line, text)) {
      CopyText(kept + used, sizeof kept - used, text);
      used += (DWORD)TextLength(text) + 1;
    }
  }
  if (used == 0) {
    RegDeleteValueA(key, name);
  } else {
    kept[used++] = '\0';
    RegSetValueExA(key, name, 0, REG_MULTI_SZ, (const BYTE*)kept, used);
  }
}

static int keepUninstallEntry;

static void RemoveRegistryLine(INFCONTEXT* line) {
  char rootName[16];
  char subkey[kLineSize];
  char name[kLineSize];
  int flags = 0;
  HKEY root = GetLineField(line, 1, rootName, sizeof rootName) ? RootKey(rootName) : NULL;
  subkey[0] = '\0'; // a line without one names the root itself
  if (root == NULL ||
      (GetLineFieldCount(line) >= 2 && !GetLineField(line, 2, subkey, sizeof subkey))) {
    return; // a key too long to read is left alone
  }
  if (!GetLineField(line, 3, name, sizeof name)) {
    name[0] = '\0';
  }
  GetLineIntField(line, 4, &flags);
  // Lines that delete, and values only ever changed where they were there before, are left:
  // nothing of theirs can be put back. Lines in another registry view are left too.
  if ((flags & (kDeleteRegBit | kDeleteValue | kOverwriteOnly | kKeyView64 | kKeyView32)) != 0) {
    return;
  }
  char prefix[sizeof kUninstallKey];
  CopyText(prefix, sizeof prefix, subkey);
  if (keepUninstallEntry && EqualIgnoringAsciiCase(prefix, kUninstallKey)) {
    return;
  }
  HKEY key;
  if ((flags & (kKeyOnly | kKeyOnlyCommon)) == 0 &&
      RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    if (((uint32_t)flags & kTypeMask) == kTypeMultiSz && (flags & kAppend) != 0) {
      RemoveListStrings(key, name, line);
    } else {
      RegDeleteValueA(key, name); // a value kept by kNoClobber goes too: there is no telling
    }
    RegCloseKey(key);
  }
  DeleteEmptyKeys(root, subkey);
}

void RemoveRegistryValues(int keepEntry) {
  keepUninstallEntry = keepEntry;
  ForEachNamedLine("AddReg", RemoveRegistryLine);
}

static void TrimBlanks(char* text) {
  size_t start = 0;
  while (text[start] == ' ' || text[start] == '\t') {
    ++start;
  }
  size_t length = TextLength(text + start);
  while (length > 0 && (text[start + length - 1] == ' ' || text[start + length - 1] == '\t')) {
    --length;
  }
  for (size_t i = 0; i < length; ++i) {
    text[i] = text[start + i];
  }
  text[length] = '\0';
}

// An INI file left with nothing in it was made by the install: it goes. A file named without a
// folder is the Windows folder's, as the platform reads it.
static void RemoveEmptyIniFile(const char* file) {
  char path[MAX_PATH];
  char windows[MAX_PATH];
  UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
  char copy[MAX_PATH];
  CopyText(copy, sizeof copy, file);
  int named = LastSeparator(copy) != NULL ? CopyText(path, sizeof path, file)
                                          : length != 0 && length < MAX_PATH &&
                                                JoinPathOnce(path, sizeof path, windows, file);
  WIN32_FILE_ATTRIBUTE_DATA data;
  char names[4];
  if (named && GetPrivateProfileSectionNamesA(names, sizeof names, path) == 0 &&
      GetFileAttributesExA(path, GetFileExInfoStandard, &data) && data.nFileSizeLow == 0 &&
      data.nFileSizeHigh == 0) {
    DeleteFileA(path);
  }
}

static void RemoveIniLine(INFCONTEXT* line) {
  char file[MAX_PATH];
  char section[kLineSize];
  char entry[kLineSize];
  if (!GetLineField(line, 1, file, sizeof file) ||
      !GetLineField(line, 2, section, sizeof section) ||
      !GetLineField(line, 4, entry, sizeof entry)) {
    return;
  }
  for (char* p = entry; *p != '\0'; ++p) {
    if (*p == '=') {
      *p = '\0';
      break;
    }
  }
  TrimBlanks(entry);
  TrimBlanks(section);
  if (entry[0] == '\0' || section[0] == '\0') {
    return;
  }
  WritePrivateProfileStringA(section, entry, NULL, file);
  char probe[4];
  if (GetPrivateProfileSectionA(section, probe, sizeof probe, file) == 0) {
    WritePrivateProfileStringA(section, NULL, NULL, file);
  }
  WritePrivateProfileStringA(NULL, NULL, NULL, file); // written out before the file is looked at
  RemoveEmptyIniFile(file);
}

void RemoveIniEntries(void) {
  ForEachNamedLine("UpdateInis", RemoveIniLine);
}
