#include "system_libraries.h"

#include <string.h>

#include "text_rules.h"

void ShowSystemError(HWND owner, const char* cause, DWORD error, UINT icon) {
  char* systemText = NULL;
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, error,
                 LANG_USER_DEFAULT, (LPSTR)&systemText, 0, NULL);
  char text[512];
  CopyText(text, sizeof text, cause);
  if (systemText != NULL) {
    AppendText(text, sizeof text, systemText);
    LocalFree(systemText);
  }
  MessageBoxA(owner, text, "Setup Error", MB_OK | icon);
}

static void ShowLibraryError(const char* path, DWORD error) {
  char cause[512];
  FormatText(cause, sizeof cause, "Setup cannot load the system library %s.\n\n", path);
  ShowSystemError(NULL, cause, error, MB_ICONERROR);
}

int LoadSystemFunctions(const char* library, const SystemFunction* functions, size_t count) {
  char path[MAX_PATH];
  if (!SystemFilePath(path, sizeof path, library)) {
    CopyText(path, sizeof path, library);
    ShowLibraryError(path, ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  // A full path is taken as it stands: nothing of the same name elsewhere is considered.
  HMODULE module = LoadLibraryA(path);
  for (size_t i = 0; module != NULL && i < count; ++i) {
    FARPROC address = GetProcAddress(module, functions[i].name);
    if (address == NULL) {
      module = NULL; // stays loaded: the process ends at once
    }
    memcpy(functions[i].pointer, &address, sizeof address);
  }
  if (module == NULL) {
    ShowLibraryError(path, GetLastError());
    return 0;
  }
  return 1;
}

BOOL(WINAPI* initCommonControls)(const INITCOMMONCONTROLSEX*);

int LoadCommonControls(void) {
  static const SystemFunction kFunctions[] = {{"InitCommonControlsEx", &initCommonControls}};
  return LoadSystemFunctions("comctl32.dll", kFunctions, 1);
}
