#include "uninstall_driver.h"

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/setup_script.h"
#include "../setup_script/text_rules.h"
#include "file_removal.h"
#include "relaunch.h"
#include "setting_removal.h"
#include "uninstall_state.h"

RemovalState removalState;

void NoteStaying(const char* what) {
  ++removalState.failedCount;
  // The list ends with "..." where it no longer fits; its last line is always whole.
  size_t used = TextLength(removalState.failed);
  char line[2 * MAX_PATH];
  FormatText(line, sizeof line, "%s\n", what);
  if (!removalState.failedListCut && used + TextLength(line) + 4 < sizeof removalState.failed) {
    AppendText(removalState.failed, sizeof removalState.failed, line);
  } else if (!removalState.failedListCut) {
    removalState.failedListCut = 1;
    AppendText(removalState.failed, sizeof removalState.failed, "...");
  }
}

int DeleteInstalledFile(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return 1;
  }
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path)) {
    return 1;
  }
  SetFileAttributesA(path, attributes); // a file that stays stays as it was
  NoteStaying(path);
  return 0;
}

void ForEachRecordKey(const char* section, int byDepth, void (*visit)(char* key)) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(removalState.recordPath, GetFileExInfoStandard, &data) ||
      data.nFileSizeHigh != 0 || data.nFileSizeLow > (1u << 28)) {
    return;
  }
  // A section's lines are never longer than the file; the room to spare holds the ending zeros.
  DWORD size = data.nFileSizeLow + 16;
  char* lines = (char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (lines == NULL) {
    return;
  }
  GetPrivateProfileSectionA(section, lines, size, removalState.recordPath);
  for (int depth = byDepth ? MAX_PATH : 0; depth >= 0; --depth) {
    for (char* line = lines; *line != '\0'; line += TextLength(line) + 1) {
      char key[kLineSize];
      size_t length = 0;
      while (line[length] != '\0' && line[length] != '=') {
        length += CharacterSize(line + length);
      }
      if (line[length] != '=' || line[0] == ';' || length == 0 || length >= sizeof key) {
        continue;
      }
      line[length] = '\0';
      CopyText(key, sizeof key, line);
      line[length] = '=';
      if (!byDepth || ((int)CountSeparators(key) == depth && !EqualIgnoringAsciiCase(key, "."))) {
        visit(key);
      }
    }
  }
  HeapFree(GetProcessHeap(), 0, lines);
}

int PassesReparsePoint(const char* path, int withSelf) {
  char part[MAX_PATH];
  if (!CopyText(part, sizeof part, path)) {
    return 1;
  }
  size_t start = TextLength(installState.destinationFolder);
  for (char* p = part + start; *p != '\0'; p += CharacterSize(p)) {
    if (*p != '\\' || p == part + start) {
      continue;
    }
    *p = '\0';
    DWORD attributes = GetFileAttributesA(part);
    *p = '\\';
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return 1;
    }
  }
  DWORD attributes = GetFileAttributesA(path);
  return withSelf && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The folder the setup file is looked for in: the installed program's, not the copy's.
static int LocateProgramFolder(char* folder) {
  if (!CopyText(folder, MAX_PATH, removalState.programPath)) {
    folder[0] = '\0';
    return 0;
  }
  char* last = LastSeparator(folder);
  if (last == NULL) {
    folder[0] = '\0';
    return 0;
  }
  last[1] = '\0';
  return 1;
}

static void DropTrailingSeparators(char* path) {
  for (char* last = LastSeparator(path); last != NULL && last[1] == '\0';
       last = LastSeparator(path)) {
    *last = '\0';
  }
}

static void ReadText(const char* section, const char* key, const char* file, char* value) {
  char whole[kLineSize];
  GetPrivateProfileStringA(section, key, "", whole, sizeof whole, file);
  CopyText(value, kValueSize, whole);
}

// The installation is the program's folder only where its record says so, for this very
// application: a copy of the folder, the distribution or a disc holds none that names it.
static int FindInstallation(void) {
  char folder[MAX_PATH];
  char setupFile[MAX_PATH];
  char recorded[MAX_PATH];
  char application[kValueSize];
  int located = LocateProgramFolder(folder);
  FormatText(setupFile, sizeof setupFile, "%sSETUP.DAT", folder);
  FormatText(removalState.recordPath, MAX_PATH, "%suninstall.ini", folder);
  ReadText("Strings", "APPNAME", setupFile, installState.appName);
  ReadText("KVSetup", "Title", setupFile, installState.title);
  ReadText("Installation", "Application", removalState.recordPath, application);
  GetPrivateProfileStringA("Installation", "Folder", "", recorded, sizeof recorded,
                           removalState.recordPath);
  DropTrailingSeparators(recorded);
  char shown[MAX_PATH];
  CopyText(shown, sizeof shown, folder);
  DropTrailingSeparators(folder);
  size_t length = 0;
  for (; application[length] == installState.appName[length] && application[length] != '\0';
       ++length) {
  }
  if (located && installState.appName[0] != '\0' &&
      application[length] == installState.appName[length] &&
      EqualIgnoringAsciiCase(recorded, folder)) {
    return 1;
  }
  if (TextLength(shown) > 3) {
    RemoveTrailingSeparator(shown);
  }
  char text[MAX_PATH + 2 * kValueSize];
  if (installState.appName[0] != '\0') {
    FormatText(text, sizeof text, "There is no installation of %s in %s.", installState.appName,
               shown);
  } else {
    FormatText(text, sizeof text, "There is no installation to remove in %s.", shown);
  }
  MessageBoxA(NULL, text, installState.title[0] != '\0' ? installState.title : "Setup",
              MB_OK | MB_ICONINFORMATION);
  return 0;
}

static int AskToRemove(void) {
  char text[256];
  FormatText(text, sizeof text,
             "Do you want to remove %s and all of its components from your computer?",
             installState.appName);
  return MessageBoxA(NULL, text, installState.title, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// The Uninstall entry, SETUP.DAT, the record and the program are what starts the removal again:
// they go last, and only when nothing else stayed. A program that is this very process (no copy
// could be started) can only go when the machine starts again.
static void RemoveStarters(int fromCopy) {
  RemoveRegistryValues(1);
  if (removalState.failedCount == 0 && removalState.setupRecorded) {
    DeleteInstalledFile(installState.setupFilePath);
  }
  if (removalState.failedCount == 0) {
    DeleteInstalledFile(removalState.recordPath);
  }
  if (removalState.failedCount != 0 || !removalState.programRecorded) {
    return;
  }
  if (fromCopy) {
    DeleteInstalledFile(removalState.programPath);
  } else if (MoveFileExA(removalState.programPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    removalState.destinationAfter = 1;
  } else {
    NoteStaying(removalState.programPath);
  }
}

static void ShowClosingMessage(void) {
  char text[kFailedListSize + 512];
  if (removalState.failedCount == 0) {
    FormatText(text, sizeof text, "%s has been removed from your computer.", installState.appName);
    MessageBoxA(NULL, text, installState.title, MB_OK | MB_ICONINFORMATION);
    return;
  }
  FormatText(text, sizeof text,
             "%s has been removed from your computer, except for these, which could not be "
             "removed:\n\n%s",
             installState.appName, removalState.failed);
  // Only where all that starts the removal is still there can it be run again.
  if (!removalState.entryTouched &&
      GetFileAttributesA(removalState.recordPath) != INVALID_FILE_ATTRIBUTES &&
      GetFileAttributesA(installState.setupFilePath) != INVALID_FILE_ATTRIBUTES &&
      GetFileAttributesA(removalState.programPath) != INVALID_FILE_ATTRIBUTES) {
    char again[256];
    FormatText(again, sizeof again, "\nClose the programs that use them, then remove %s again.",
               installState.appName);
    AppendText(text, sizeof text, again);
  }
  MessageBoxA(NULL, text, installState.title, MB_OK | MB_ICONWARNING);
}

int RunUninstall(const char* programPath, int fromCopy) {
  CopyText(removalState.programPath, MAX_PATH, programPath);
  if (!FindInstallation()) {
    return 0;
  }
  moduleFolderLocator = LocateProgramFolder;
  if (!LoadSetupScript(NULL)) {
    return 0;
  }
  CopyText(installState.destinationFolder, MAX_PATH, installState.moduleFolder);
  if (TextLength(installState.destinationFolder) > 3) {
    RemoveTrailingSeparator(installState.destinationFolder);
  }
  if (!fromCopy) {
    if (!AskToRemove()) {
      CloseSetupScript();
      return 0;
    }
    if (StartTemporaryCopy(programPath)) {
      CloseSetupScript();
      return 1; // the copy goes on once this process has ended
    }
  }
  // %65600% in the lines of default_install names the destination, as it did at the install.
  SetDestinationDirectoryId(installState.infHandle, installState.destinationFolder);
  RemoveProgramLinks();
  RemoveGroupFiles();
  RemoveRegistryValues(0);
  RemoveIniEntries();
  if (GetSectionLineCount(installState.infHandle, "default_uninstall") >= 0 &&
      !InstallSectionByName(NULL, installState.infHandle, "default_uninstall")) {
    NoteStaying("default_uninstall of SETUP.DAT");
  }
  RemoveEmptyFolders();
  if (removalState.failedCount == 0) {
    RemoveStarters(fromCopy);
  }
  RemoveDestinationFolder();
  CloseSetupScript();
  ShowClosingMessage();
  return 1;
}
