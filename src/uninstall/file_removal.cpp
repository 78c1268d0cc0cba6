#include "file_removal.h"

#include <windows.h>

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/text_rules.h"
#include "../system/shortcuts.h"
#include "uninstall_state.h"

// The full path of a recorded name; 0 for one that leaves the destination or passes through a
// reparse point (withSelf: or is one).
static int RecordedPath(char* path, const char* name, int withSelf) {
  return !NamesPlaceOutside(name) &&
         JoinPathOnce(path, MAX_PATH, installState.destinationFolder, name) &&
         !PassesReparsePoint(path, withSelf);
}

static void RemoveRecordedFile(char* name) {
  char path[MAX_PATH];
  if (!RecordedPath(path, name, 0)) {
    return;
  }
  // The program and SETUP.DAT go last (RemoveStarters), when nothing else stayed.
  if (EqualIgnoringAsciiCase(path, removalState.programPath)) {
    removalState.programRecorded = 1;
    return;
  }
  if (EqualIgnoringAsciiCase(path, installState.setupFilePath)) {
    removalState.setupRecorded = 1;
    return;
  }
  if (EqualIgnoringAsciiCase(path, removalState.recordPath)) {
    return;
  }
  DeleteInstalledFile(path);
  char replacement[MAX_PATH];
  if (ReplacementName(replacement, sizeof replacement, path)) {
    DeleteInstalledFile(replacement);
  }
}

void RemoveGroupFiles(void) {
  ForEachRecordKey("Files", 0, RemoveRecordedFile);
}

// A folder that holds anything (a file the user saved, a file that stayed) keeps itself.
static void RemoveRecordedFolder(char* name) {
  char path[MAX_PATH];
  if (RecordedPath(path, name, 1)) {
    RemoveDirectoryA(path);
  }
}

static int destinationRecorded;

static void NoteDestination(char* name) {
  destinationRecorded |= EqualIgnoringAsciiCase(name, ".");
}

void RemoveEmptyFolders(void) {
  ForEachRecordKey("Folders", 1, RemoveRecordedFolder);
  ForEachRecordKey("Folders", 0, NoteDestination);
}

void RemoveDestinationFolder(void) {
  DWORD attributes = GetFileAttributesA(installState.destinationFolder);
  if (!destinationRecorded || TextLength(installState.destinationFolder) <= 3 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return;
  }
  if (!RemoveDirectoryA(installState.destinationFolder) && removalState.destinationAfter) {
    MoveFileExA(installState.destinationFolder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

// Paths compare as setup.exe compares them: by character, ASCII letters without regard to case.
static int SamePath(const char* a, const char* b) {
  char fullA[MAX_PATH];
  char fullB[MAX_PATH];
  DWORD lengthA = GetFullPathNameA(a, MAX_PATH, fullA, NULL);
  DWORD lengthB = GetFullPathNameA(b, MAX_PATH, fullB, NULL);
  return lengthA != 0 && lengthA < MAX_PATH && lengthB != 0 && lengthB < MAX_PATH &&
         EqualIgnoringAsciiCase(fullA, fullB);
}

// A link of the application's name that points elsewhere is another program's, and stays.
static void RemoveProgramLink(const char* valueName) {
  char folder[MAX_PATH];
  char linkPath[MAX_PATH];
  char program[MAX_PATH];
  char target[MAX_PATH];
  if (ReadShellFolder(folder, valueName) &&
      FormatText(linkPath, sizeof linkPath, "%s\\%s.lnk", folder, installState.appName) &&
      FormatText(program, sizeof program, "%s\\%s.exe", installState.destinationFolder,
                 installState.exeName) &&
      GetFileAttributesA(linkPath) != INVALID_FILE_ATTRIBUTES &&
      ReadShortcutTarget(linkPath, target) && SamePath(target, program)) {
    DeleteInstalledFile(linkPath);
  }
}

void RemoveProgramLinks(void) {
  RemoveProgramLink("Programs");
  RemoveProgramLink("Desktop");
}
