#include <windows.h>

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/text_rules.h"
#include "../shell/system_libraries.h"
#include "relaunch.h"
#include "uninstall_driver.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything else loads: no library is taken from this program's own folder, nor from
  // the temporary folder its copy runs from.
  RestrictLibrarySearch();
  installState.instance = instance;
  // Paths are walked by character of the system's ANSI code page, as setup.exe walks them.
  CPINFO codePage;
  if (GetCPInfo(CP_ACP, &codePage)) {
    SetLeadByteRanges(codePage.LeadByte, sizeof codePage.LeadByte);
  }
  if (!LoadSetupApi()) {
    return 0;
  }
  char programPath[MAX_PATH];
  HANDLE firstProcess = NULL;
  if (ReadCopyCommandLine(GetCommandLineA(), &firstProcess, programPath)) {
    // The installed program must have ended before its file can be removed; one that does not
    // end in time leaves its file named in the closing message.
    WaitForSingleObject(firstProcess, 60000);
    CloseHandle(firstProcess);
    RunUninstall(programPath, 1);
    return 0;
  }
  DWORD length = GetModuleFileNameA(NULL, programPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    programPath[0] = '\0'; // cut: loading reports the setup file as missing
  }
  RunUninstall(programPath, 0);
  return 0;
}
