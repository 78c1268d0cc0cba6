#include "registry_steps.h"

#include <windows.h>

#include "../setup_script/install_state.h"
#include "../setup_script/text_rules.h"
#include "../setup_script/system_libraries.h"

void ClearCompatibilityLayer(void) {
  char valueName[256];
  // A name longer than a registry value name can be is refused rather than cut: a cut name
  // could delete another program's entry.
  if (!FormatText(valueName, sizeof valueName, "%s\\%s.exe", installState.destinationFolder,
                  installState.exeName)) {
    return;
  }
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers", 0,
                    KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(key, valueName); // a missing value is no error
  RegCloseKey(key);
}

void ScheduleRunOnce(int runNow) {
  HKEY runOnce;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                    KEY_ALL_ACCESS, &runOnce) != ERROR_SUCCESS) {
    return; // without the right to write machine-wide settings nothing is scheduled or run
  }
  HKEY setup;
  if (RegOpenKeyExA(runOnce, "Setup", 0, KEY_READ, &setup) == ERROR_SUCCESS) {
    RegCloseKey(setup);
    static const char kWrapper[] = "runonce";
    RegSetValueExA(runOnce, "Wrapper", 0, REG_SZ, (const BYTE*)kWrapper, sizeof kWrapper);
  }
  static const char kGrpConv[] = "grpconv -o";
  RegSetValueExA(runOnce, "GrpConv", 0, REG_SZ, (const BYTE*)kGrpConv, sizeof kGrpConv);
  RegCloseKey(runOnce);
  // The system's own runonce by its full path: by name alone, a runonce.exe beside setup.exe
  // would be found first. Quoted, as the system folder may hold a space.
  char program[MAX_PATH];
  char command[MAX_PATH + 8];
  if (runNow && SystemFilePath(program, sizeof program, "runonce.exe") &&
      FormatText(command, sizeof command, "\"%s\" -r", program)) {
    WinExec(command, SW_SHOWNORMAL);
  }
}
