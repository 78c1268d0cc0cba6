#include <windows.h>

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "relaunch.h"
#include "uninstall_driver.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!StartWithSystemLibraries()) {
    return 0;
  }
  installState.instance = instance;
  char programPath[MAX_PATH];
  HANDLE firstProcess = NULL;
  HANDLE copyFile = NULL;
  if (ReadCopyCommandLine(GetCommandLineA(), &firstProcess, &copyFile, programPath)) {
    // The installed program must have ended before its file can be removed; one that does not
    // end in time leaves its file named in the closing message.
    WaitForSingleObject(firstProcess, 60000);
    CloseHandle(firstProcess);
    RunUninstall(programPath, 1);
    char copyPath[MAX_PATH];
    DWORD copyLength = GetModuleFileNameA(NULL, copyPath, MAX_PATH);
    if (copyLength != 0 && copyLength < MAX_PATH) {
      LeaveCopyFolder(copyFile, copyPath);
    }
    return 0;
  }
  DWORD length = GetModuleFileNameA(NULL, programPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    programPath[0] = '\0'; // cut: loading reports the setup file as missing
  }
  RunUninstall(programPath, 0);
  return 0;
}
