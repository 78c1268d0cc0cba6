// The search restriction and the system folder, apart from the loader so that a console
// program linking only these takes in no user interface library.
#include "system_libraries.h"

#include "text_rules.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void RestrictLibrarySearch(void) {
  // Looked up, not imported: before Windows 8 the first exists only with an update, and the
  // first releases of XP lack the second too.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  typedef BOOL(WINAPI * SetDefaultDirectories)(DWORD);
  typedef BOOL(WINAPI * SetDirectory)(LPCSTR);
  SetDefaultDirectories setDefault =
      (SetDefaultDirectories)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (setDefault != NULL) {
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // Where only this one exists, it at least takes the current folder out of the search.
  SetDirectory setDirectory = (SetDirectory)(void*)GetProcAddress(kernel, "SetDllDirectoryA");
  if (setDirectory != NULL) {
    setDirectory("");
  }
}

int SystemFilePath(char* path, size_t size, const char* name) {
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  return length != 0 && length < MAX_PATH && JoinPathOnce(path, size, folder, name);
}
