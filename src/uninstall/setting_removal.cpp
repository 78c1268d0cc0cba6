#include "setting_removal.h"

#include <windows.h>

#include "../setup_script/install_state.h"
#include "../setup_script/text_rules.h"
#include "uninstall_state.h"

static const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

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

// Finds "\\" in text (a character pair, not a trail byte), ends text there and returns what
// follows; NULL when there is none.
static char* CutAtDoubleSeparator(char* text) {
  for (; *text != '\0'; text += CharacterSize(text)) {
    if (text[0] == '\\' && text[1] == '\\') {
      text[0] = '\0';
      return text + 2;
    }
  }
  return NULL;
}

// A recorded identity: root, key path, then after "\\" a value name and after another "\\" a
// string of a list. Returns the root, NULL for one unknown.
static HKEY ReadIdentity(char* identity, char** subkey, char** name, char** string) {
  char* separator = identity;
  while (*separator != '\0' && *separator != '\\') {
    separator += CharacterSize(separator);
  }
  if (*separator == '\0') {
    return NULL;
  }
  *separator = '\0';
  *subkey = separator + 1;
  *name = CutAtDoubleSeparator(*subkey);
  *string = *name != NULL ? CutAtDoubleSeparator(*name) : NULL;
  return RootKey(identity);
}

static int removingEntry;

// The strings of a list, the recorded one left out; the list's other strings stay as they were,
// empty ones too.
static int RemoveListString(HKEY key, const char* name, const char* string) {
  DWORD size = 0;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, NULL, &type, NULL, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return 1;
  }
  char* list = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + 2);
  if (list == NULL) {
    return 0;
  }
  LONG result = RegQueryValueExA(key, name, NULL, &type, (BYTE*)list, &size);
  DWORD used = 0;
  int found = 0;
  for (DWORD at = 0; result == ERROR_SUCCESS && at < size; at += TextLength(list + at) + 1) {
    const char* text = list + at;
    DWORD length = (DWORD)TextLength(text) + 1;
    if (!found && EqualIgnoringAsciiCase(text, string)) {
      found = 1; // a list holds a string once when the Setup API appended it
      continue;
    }
    for (DWORD i = 0; i < length; ++i) {
      list[used + i] = text[i];
    }
    used += length;
  }
  // The recorded string was not in the list before the first install, so a list left with no
  // string at all was made by it (the Setup API creates the value it appends to): it goes.
  if (found) {
    result = used > 1 ? RegSetValueExA(key, name, 0, REG_MULTI_SZ, (const BYTE*)list, used)
                      : RegDeleteValueA(key, name); // at most the list's closing terminator
  }
  HeapFree(GetProcessHeap(), 0, list);
  return result == ERROR_SUCCESS;
}

// A recorded identity taken apart, and whether it lies under the Uninstall entries' key.
struct RecordedSetting {
  char identity[kLineSize];
  HKEY root; // NULL for an identity that names no known root
  char* subkey;
  char* name;
  char* string;
  int underEntries;
};

static void ReadRecorded(const char* recorded, RecordedSetting* setting) {
  CopyText(setting->identity, sizeof setting->identity, recorded);
  setting->subkey = NULL;
  setting->root =
      ReadIdentity(setting->identity, &setting->subkey, &setting->name, &setting->string);
  char prefix[sizeof kUninstallKey];
  CopyText(prefix, sizeof prefix, setting->subkey != NULL ? setting->subkey : "");
  setting->underEntries = EqualIgnoringAsciiCase(prefix, kUninstallKey);
}

static void RemoveRecordedValue(char* recorded) {
  RecordedSetting setting;
  ReadRecorded(recorded, &setting);
  if (setting.root == NULL || setting.name == NULL || setting.underEntries != removingEntry) {
    return;
  }
  HKEY key;
  LONG result =
      RegOpenKeyExA(setting.root, setting.subkey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (result == ERROR_SUCCESS) {
    const char* name = setting.name;
    if (setting.string != NULL) {
      result = RemoveListString(key, name, setting.string) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    } else {
      result = RegDeleteValueA(key, name);
      removalState.entryTouched |= removingEntry && result == ERROR_SUCCESS;
    }
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    NoteStaying(recorded);
  }
}

// A key that still holds anything is someone else's too, and stays. With the Uninstall entry
// every key is looked at again: its parents are empty only now.
static void RemoveRecordedKey(char* recorded) {
  RecordedSetting setting;
  ReadRecorded(recorded, &setting);
  HKEY root = setting.root;
  const char* subkey = setting.subkey;
  HKEY key;
  if (root == NULL || setting.name != NULL || subkey[0] == '\0' ||
      (!removingEntry && setting.underEntries) ||
      RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return;
  }
  DWORD subkeys = 1;
  DWORD values = 1;
  LONG result = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL,
                                 NULL, NULL);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || subkeys != 0 || values != 0) {
    return;
  }
  if (RegDeleteKeyA(root, subkey) == ERROR_SUCCESS) {
    removalState.entryTouched |= removingEntry;
  } else {
    NoteStaying(recorded);
  }
}

void RemoveRegistryValues(int entry) {
  removingEntry = entry;
  ForEachRecordKey("Registry", 0, RemoveRecordedValue);
  ForEachRecordKey("Registry", 1, RemoveRecordedKey);
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

// A recorded entry: the file, its section and key, "|" between them.
static void RemoveIniEntry(char* recorded) {
  char file[kLineSize];
  CopyText(file, sizeof file, recorded);
  char* section = file;
  char* entry = NULL;
  for (char* p = file; *p != '\0'; p += CharacterSize(p)) {
    if (*p == '|' && entry == NULL) {
      *p = '\0';
      if (section == file) {
        section = p + 1;
      } else {
        entry = p + 1;
      }
    }
  }
  char probe[4];
  if (entry == NULL || entry[0] == '\0' ||
      (GetPrivateProfileStringA(section, entry, "\n", probe, sizeof probe, file),
       probe[0] == '\n')) {
    return; // gone already (no value holds a line break)
  }
  if (!WritePrivateProfileStringA(section, entry, NULL, file)) {
    NoteStaying(recorded);
    return;
  }
  if (GetPrivateProfileSectionA(section, probe, sizeof probe, file) == 0) {
    WritePrivateProfileStringA(section, NULL, NULL, file);
  }
  WritePrivateProfileStringA(NULL, NULL, NULL, file); // written out before the file is looked at
  RemoveEmptyIniFile(file);
}

void RemoveIniEntries(void) {
  ForEachRecordKey("Ini", 0, RemoveIniEntry);
}
