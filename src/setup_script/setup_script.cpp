#include "setup_script.h"

#include "install_state.h"
#include "setup_api.h"
#include "text_rules.h"

ModuleFolderLocator moduleFolderLocator = LocateExecutableFolder;

int LocateExecutableFolder(char* folder) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = '\0';
    return 0; // a full buffer means the path was cut
  }
  char* separator = (char*)FindLastSeparator(path);
  if (separator != NULL) {
    separator[1] = '\0';
  }
  return CopyText(folder, MAX_PATH, path);
}

void CloseSetupScript(void) {
  if (installState.infHandle != NULL && installState.infHandle != INVALID_HANDLE_VALUE) {
    CloseSetupFile(installState.infHandle);
  }
  installState.infHandle = INVALID_HANDLE_VALUE;
}

static void ShowLoadingError(HWND hostWindow, const char* reason) {
  char text[512];
  if (reason == NULL) {
    FormatText(text, sizeof text, "There was an error initialising the setup file:\n\n%s",
               installState.setupFilePath);
  } else {
    FormatText(text, sizeof text, "There was an error initialising the setup file:\n\n%s\n\n%s",
               installState.setupFilePath, reason);
  }
  MessageBoxA(hostWindow, text, "Setup Error", MB_OK | MB_ICONERROR);
}

static void ReadSetupValue(const char* section, const char* key, char* value) {
  // Read whole first and then cut to the field between two characters: the platform's own cut of
  // a double-byte text can leave half a character or a stray byte at the buffer's end.
  char whole[kLineSize];
  GetPrivateProfileStringA(section, key, "", whole, sizeof whole, installState.setupFilePath);
  CopyText(value, kValueSize, whole);
}

static void ReadGroupList(void) {
  installState.groupCount = 0;
  installState.optionalCount = 0;
  for (int i = 0; i < kMaxGroups; ++i) {
    GroupEntry* group = &installState.groups[i];
    char key[32];
    FormatText(key, sizeof key, "Group%d", i + 1);
    ReadSetupValue("KVSetup", key, group->sectionName);
    FormatText(key, sizeof key, "Option%d", i + 1);
    ReadSetupValue("KVSetup", key, group->optionText);
    // Counted before the end test: an option on the entry that ends the list still counts.
    if (group->optionText[0] != '\0') {
      installState.optionalGroups[installState.optionalCount++] = (int16_t)i;
    }
    FormatText(key, sizeof key, "Description%d", i + 1);
    ReadSetupValue("KVSetup", key, group->description);
    if (group->sectionName[0] == '\0' || group->description[0] == '\0') {
      break;
    }
    group->selected = 1;
    ++installState.groupCount;
  }
}

static void ChooseDefaultDestination(void) {
  installState.destinationFolder[0] = '\0';
  char keyName[256];
  FormatText(keyName, sizeof keyName,
             "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\%s.exe",
             installState.exeName);
  ReadAppPath(keyName, "Path", installState.destinationFolder);
  if (installState.destinationFolder[0] == '\0') {
    ReadSetupValue("KVSetup", "Path", installState.destinationFolder);
  }
  if (installState.destinationFolder[0] == '\0') {
    FormatText(installState.destinationFolder, MAX_PATH, "C:\\%s", installState.appName);
  }
}

int LoadSetupScript(HWND hostWindow) {
  installState.infHandle = INVALID_HANDLE_VALUE;
  int located = moduleFolderLocator(installState.moduleFolder);
  // A folder too long for "SETUP.DAT" to follow it is treated like a file that cannot be opened.
  located &=
      FormatText(installState.setupFilePath, MAX_PATH, "%sSETUP.DAT", installState.moduleFolder);
  if (located) {
    installState.infHandle = OpenSetupFile(installState.setupFilePath);
  }
  if (installState.infHandle == INVALID_HANDLE_VALUE) {
    ShowLoadingError(hostWindow, NULL);
    return 0;
  }

  ReadGroupList();
  const char* missing = NULL;
  if (installState.groupCount == 0) {
    missing = "<Missing Section>";
  } else if (installState.optionalCount > 2) {
    missing = "<Maximum 2 optional groups>";
  } else {
    ReadSetupValue("Strings", "APPNAME", installState.appName);
    ReadSetupValue("Strings", "EXENAME", installState.exeName);
    ReadSetupValue("KVSetup", "Title", installState.title);
    if (installState.appName[0] == '\0') {
      missing = "<Missing App>";
    } else if (installState.exeName[0] == '\0') {
      missing = "<Missing Exe>";
    } else if (installState.title[0] == '\0') {
      missing = "<Missing Title>";
    }
  }
  if (missing != NULL) {
    CloseSetupScript();
    ShowLoadingError(hostWindow, missing);
    return 0;
  }

  ChooseDefaultDestination();
  return 1;
}

int ReadAppPath(const char* keyName, const char* valueName, char* buffer) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return 1;
  }
  // Queried into a buffer of our own: after a failed query (a value too long for 259 bytes) the
  // platform leaves its buffer undefined, and such a value is treated as absent.
  char value[MAX_PATH];
  DWORD size = MAX_PATH - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, valueName, NULL, &type, (BYTE*)value, &size) == ERROR_SUCCESS &&
      size < MAX_PATH) {
    value[size] = '\0'; // a value stored without its terminating zero ends after its last byte
    DropIncompleteCharacter(value);
    CopyText(buffer, MAX_PATH, value);
  }
  RegCloseKey(key);
  return 1;
}
