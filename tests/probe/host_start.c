/* Starts a host program (a Unix one, under Wine) and ends: KVS_HOST_PROGRAM names it as a
   Windows path, KVS_HOST_COMMAND is its command line. Wine gives back no handles for such a
   program and its start can close handles of the process that asks for it, so tests ask through
   this process, which lives only for the start. Ends with 0 when the program was started. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  char program[MAX_PATH];
  char command[4096];
  STARTUPINFOA startup;
  PROCESS_INFORMATION started;
  DWORD programLength = GetEnvironmentVariableA("KVS_HOST_PROGRAM", program, sizeof program);
  DWORD commandLength = GetEnvironmentVariableA("KVS_HOST_COMMAND", command, sizeof command);
  (void)instance;
  (void)previous;
  (void)arguments;
  (void)show;
  if (programLength == 0 || programLength >= sizeof program || commandLength == 0 ||
      commandLength >= sizeof command) {
    return 1;
  }
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  return CreateProcessA(program, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started) ? 0
                                                                                                : 1;
}
