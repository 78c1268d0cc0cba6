#include "relaunch.h"

#include "../setup_script/text_rules.h"

static const char kCopyMark[] = "/remove ";

// The copy is opened for deletion on close, and that handle is inherited by the copy's process:
// the file goes when the copy ends, however it ends, and nothing is left in the temporary folder.
// A read-only program's copy would refuse that, so its attributes are reset first.
static HANDLE MakeCopy(const char* programPath, const char* tempFolder, char* copyPath) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
  for (DWORD attempt = 0; attempt < 16; ++attempt) {
    if (!FormatText(copyPath, MAX_PATH, "%skvs-uninstall-%d.exe", tempFolder,
                    (int)(GetCurrentProcessId() + attempt)) ||
        !CopyFileA(programPath, copyPath, TRUE)) {
      continue; // another file of that name: the next
    }
    SetFileAttributesA(copyPath, FILE_ATTRIBUTE_NORMAL);
    HANDLE copy = CreateFileA(copyPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              &inherited, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (copy != INVALID_HANDLE_VALUE) {
      return copy;
    }
    DeleteFileA(copyPath);
  }
  return INVALID_HANDLE_VALUE;
}

int StartTemporaryCopy(const char* programPath) {
  char tempFolder[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, tempFolder);
  char copyPath[MAX_PATH];
  if (length == 0 || length >= MAX_PATH) {
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
      FormatText(commandLine, sizeof commandLine, "\"%s\" %s%d \"%s\"", copyPath, kCopyMark,
                 (int)(INT_PTR)self, programPath) &&
      // Its working folder is the temporary one: a process's own would keep the installed folder.
      CreateProcessA(copyPath, commandLine, NULL, NULL, TRUE, 0, NULL, tempFolder, &startup,
                     &process);
  if (started) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (self != NULL) {
    CloseHandle(self);
  }
  CloseHandle(copy); // without a copy running, this deletes the file
  return started;
}

int ReadCopyCommandLine(const char* commandLine, HANDLE* firstProcess, char* programPath) {
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
  uintptr_t handle = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    handle = handle * 10 + (uintptr_t)(*p - '0');
  }
  if (*p++ != ' ' || *p++ != '"') {
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
  *firstProcess = (HANDLE)handle;
  return p[length] == '"';
}
