#include "file_removal.h"

#include <windows.h>

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/text_rules.h"
#include "../system/shortcuts.h"
#include "uninstall_state.h"

// Calls visit with the full path of every target of every group, chosen at the install or not.
// A line that cannot be read ends its group, as it ended the copy.
static void ForEachTarget(void (*visit)(const char* path)) {
  for (int i = 0; i < installState.groupCount; ++i) {
    INFCONTEXT context;
    int more = FindFirstLine(installState.infHandle, installState.groups[i].sectionName, &context);
    for (; more; more = FindNextLine(&context)) {
      char line[kLineSize];
      char target[kLineSize];
      char source[kLineSize];
      char path[MAX_PATH];
      if (!GetLineText(&context, line)) {
        break;
      }
      SplitGroupLine(line, target, sizeof target, source, sizeof source);
      if (!NamesPlaceOutside(target) &&
          JoinPathOnce(path, sizeof path, installState.destinationFolder, target)) {
        visit(path);
      }
    }
  }
}

static void RemoveTarget(const char* path) {
  // The program and SETUP.DAT go last (RunUninstall), when nothing else stayed.
  if (EqualIgnoringAsciiCase(path, removalState.programPath) ||
      EqualIgnoringAsciiCase(path, installState.setupFilePath)) {
    return;
  }
  DeleteInstalledFile(path);
  char replacement[MAX_PATH];
  if (ReplacementName(replacement, sizeof replacement, path)) {
    DeleteInstalledFile(replacement);
  }
}

void RemoveGroupFiles(void) {
  ForEachTarget(RemoveTarget);
}

// Walks up from the file's folder while folders can be removed: one that holds anything (a file
// the user saved, a file that stayed) keeps itself and every folder above it.
static void RemoveFoldersAbove(const char* path) {
  char folder[MAX_PATH];
  CopyText(folder, sizeof folder, path);
  size_t destinationLength = TextLength(installState.destinationFolder);
  for (char* last = LastSeparator(folder); last != NULL; last = LastSeparator(folder)) {
    *last = '\0';
    if (TextLength(folder) <= destinationLength || !RemoveDirectoryA(folder)) {
      return;
    }
  }
}

void RemoveEmptyFolders(void) {
  ForEachTarget(RemoveFoldersAbove);
  if (TextLength(installState.destinationFolder) > 3) {
    RemoveDirectoryA(installState.destinationFolder);
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
