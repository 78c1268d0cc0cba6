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

void DeleteInstalledFile(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return;
  }
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path)) {
    return;
  }
  SetFileAttributesA(path, attributes); // a file that stays stays as it was
  ++removalState.failedCount;
  // The list ends with "..." where it no longer fits; its last line is always whole.
  size_t used = TextLength(removalState.failed);
  char line[MAX_PATH + 2];
  FormatText(line, sizeof line, "%s\n", path);
  if (!removalState.failedListCut && used + TextLength(line) + 4 < sizeof removalState.failed) {
    AppendText(removalState.failed, sizeof removalState.failed, line);
  } else if (!removalState.failedListCut) {
    removalState.failedListCut = 1;
    AppendText(removalState.failed, sizeof removalState.failed, "...");
  }
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

static int AskToRemove(void) {
  char text[256];
  FormatText(text, sizeof text,
             "Do you want to remove %s and all of its components from your computer?",
             installState.appName);
  return MessageBoxA(NULL, text, installState.title, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// The program and SETUP.DAT go last of the files, and only when nothing stayed: they are what
// starts the removal again. A program that is this very process (no copy could be started) can
// only go when the machine starts again, with its folder if that is empty by then.
static void RemoveProgramItself(int fromCopy) {
  DeleteInstalledFile(installState.setupFilePath);
  if (fromCopy) {
    DeleteInstalledFile(removalState.programPath);
    return;
  }
  MoveFileExA(removalState.programPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExA(installState.destinationFolder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

static void ShowClosingMessage(void) {
  char text[kFailedListSize + 512];
  if (removalState.failedCount == 0) {
    FormatText(text, sizeof text, "%s has been removed from your computer.", installState.appName);
    MessageBoxA(NULL, text, installState.title, MB_OK | MB_ICONINFORMATION);
    return;
  }
  FormatText(text, sizeof text,
             "%s has been removed from your computer, except for these files, which are in "
             "use:\n\n%s\nClose the programs that use them, then remove %s again.",
             installState.appName, removalState.failed, installState.appName);
  MessageBoxA(NULL, text, installState.title, MB_OK | MB_ICONWARNING);
}

int RunUninstall(const char* programPath, int fromCopy) {
  CopyText(removalState.programPath, MAX_PATH, programPath);
  moduleFolderLocator = LocateProgramFolder;
  if (!LoadSetupScript(NULL)) {
    return 0;
  }
  // The installation is the folder the program lies in.
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
  int keepStarter = removalState.failedCount != 0;
  RemoveRegistryValues(keepStarter);
  RemoveIniEntries();
  if (!keepStarter) {
    RemoveProgramItself(fromCopy);
  }
  RemoveEmptyFolders();
  if (GetSectionLineCount(installState.infHandle, "default_uninstall") >= 0) {
    InstallSectionByName(NULL, installState.infHandle, "default_uninstall");
  }
  CloseSetupScript();
  ShowClosingMessage();
  return 1;
}
