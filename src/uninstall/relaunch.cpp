#include "relaunch.h"

#include "../setup_script/text_rules.h"

static const char kCopyMark[] = "/remove ";

// The copy runs from a folder made for it alone inside the temporary folder: a library planted
// in the temporary folder (a program's own folder is searched first) is never loaded by it, and
// the folder's name is taken only when it is new, so nothing in it is anyone else's. The copy is
// opened without write or delete sharing, so it cannot be changed or swapped once made, and for
// deletion on close; the copy's process inherits that handle, so the file goes when the copy
// ends, however it ends. A read-only program's copy would refuse deletion, so its attributes are
// reset first.
static HANDLE MakeCopy(const char* programPath, const char* tempFolder, char* copyPath) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
  char folder[MAX_PATH];
  for (DWORD attempt = 0; attempt < 16; ++attempt) {
    // Not only the process id: names made beforehand for the likely ids must not stop the copy.
    if (!FormatText(folder, sizeof folder, "%skvs-uninstall-%d-%d", tempFolder,
                    (int)GetCurrentProcessId(), (int)((GetTickCount() + attempt) & 0x7fffffff)) ||
        !CreateDirectoryA(folder, NULL)) {
      continue; // there already: another name
    }
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (FormatText(copyPath, MAX_PATH, "%s\\kvs-uninstall-copy.exe", folder) &&
        CopyFileA(programPath, copyPath, TRUE)) {
      SetFileAttributesA(copyPath, FILE_ATTRIBUTE_NORMAL);
      copy = CreateFileA(copyPath, GENERIC_READ | DELETE, FILE_SHARE_READ, &inherited,
                         OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
      if (copy == INVALID_HANDLE_VALUE) {
        DeleteFileA(copyPath);
      }
    }
    if (copy == INVALID_HANDLE_VALUE) {
      RemoveDirectoryA(folder);
    }
    return copy; // another name would fail the same way
  }
  return INVALID_HANDLE_VALUE;
}

int StartTemporaryCopy(const char* programPath) {
  char tempFolder[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, tempFolder);
  char systemFolder[MAX_PATH];
  DWORD systemLength = GetSystemDirectoryA(systemFolder, MAX_PATH);
  char copyPath[MAX_PATH];
  if (length == 0 || length >= MAX_PATH || systemLength == 0 || systemLength >= MAX_PATH) {
    return 0;
  }
  HANDLE copy = MakeCopy(programPath, tempFolder, copyPath);
  if (copy == INVALID_HANDLE_VALUE) {
    return 0;
  }
  HANDLE self = NULL;
  DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE,
                  TRUE, 0);
  char commandLine[3 * MAX_PATH];
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  int started =
      self != NULL &&
      FormatText(commandLine, sizeof commandLine, "\"%s\" %s%d %d \"%s\"", copyPath, kCopyMark,
                 (int)(INT_PTR)self, (int)(INT_PTR)copy, programPath) &&
      // Its working folder is the system's: the installed folder would be kept by it, its own
      // folder could not be removed, and the working folder is searched for libraries too.
      CreateProcessA(copyPath, commandLine, NULL, NULL, TRUE, 0, NULL, systemFolder, &startup,
                     &process);
  if (started) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (self != NULL) {
    CloseHandle(self);
  }
  CloseHandle(copy); // without a copy running, this deletes the file
  if (!started) {
    CutAtLastSeparator(copyPath);
    RemoveDirectoryA(copyPath);
  }
  return started;
}

// The folder cannot go while the copy's file is in it, and that file only goes as the copy ends,
// with nobody left to remove the folder; so the file moves out first, through the handle that
// keeps everyone else from moving it. The name it takes in the temporary folder is the process
// id's, which no other running copy has. Run last: no library is loaded after it, so a folder
// of the same name made again by someone else is never searched.
int LeaveCopyFolder(HANDLE copyFile, const char* copyPath) {
  typedef BOOL(WINAPI * SetInformation)(HANDLE, int, void*, DWORD);
  // Windows Vista and later; before, the folder stays behind, empty.
  SetInformation setInformation = (SetInformation)(void*)GetProcAddress(
      GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle");
  char folder[MAX_PATH];
  char moved[MAX_PATH];
  struct {
    DWORD replaceIfExists;
    HANDLE rootDirectory;
    DWORD nameBytes;
    WCHAR name[MAX_PATH];
  } rename = {0, NULL, 0, {0}};
  DWORD length = GetTempPathA(MAX_PATH, moved);
  if (setInformation == NULL || length == 0 || length >= MAX_PATH ||
      !AppendText(moved, sizeof moved, "kvs-uninstall-") ||
      !FormatText(moved + TextLength(moved), sizeof moved - TextLength(moved), "%d.exe",
                  (int)GetCurrentProcessId()) ||
      !CopyText(folder, sizeof folder, copyPath)) {
    return 0;
  }
  int characters = MultiByteToWideChar(CP_ACP, 0, moved, -1, rename.name, MAX_PATH);
  rename.nameBytes = (DWORD)(characters - 1) * sizeof(WCHAR);
  CutAtLastSeparator(folder);
  return characters > 0 &&
         setInformation(copyFile, 3 /* FileRenameInfo */, &rename, sizeof rename) &&
         RemoveDirectoryA(folder);
}

// A handle's number and the space after it.
static const char* ReadHandle(const char* p, HANDLE* handle) {
  uintptr_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (uintptr_t)(*p - '0');
  }
  *handle = (HANDLE)value;
  return *p == ' ' ? p + 1 : NULL;
}

int ReadCopyCommandLine(const char* commandLine, HANDLE* firstProcess, HANDLE* copyFile,
                        char* programPath) {
  const char* p = commandLine;
  if (*p == '"') {
    for (++p; *p != '\0' && *p != '"'; ++p) {
    }
    p += *p == '"';
  } else {
    for (; *p != '\0' && *p != ' '; ++p) {
    }
  }
  for (; *p == ' '; ++p) {
  }
  for (const char* mark = kCopyMark; *mark != '\0'; ++mark, ++p) {
    if (*p != *mark) {
      return 0;
    }
  }
  p = ReadHandle(p, firstProcess);
  p = p != NULL ? ReadHandle(p, copyFile) : NULL;
  if (p == NULL || *p++ != '"') {
    return 0;
  }
  size_t length = 0;
  for (; p[length] != '\0' && p[length] != '"'; ++length) {
    if (length + 1 >= MAX_PATH) {
      return 0;
    }
    programPath[length] = p[length];
  }
  programPath[length] = '\0';
  return p[length] == '"';
}
