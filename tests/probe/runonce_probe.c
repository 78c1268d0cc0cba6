/* Stands in for the shell's "runonce" in tests: appends its own path, its command line and the
   text of KVS_PROBE_TAG to the file named by KVS_PROBE_LOG, one line per start (loading the library
   KVS_PROBE_LOAD names first). Built as a library (PROBE_LIBRARY) it records each load so, standing
   in for a planted library. Without KVS_PROBE_LOG it does nothing, so it is harmless wherever it is
   found. */
#include <windows.h>

static DWORD TextLength(const char* text) {
  DWORD length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

static int Record(HMODULE module) {
  char logPath[MAX_PATH];
  char tag[64];
  char self[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA("KVS_PROBE_LOG", logPath, sizeof logPath);
  GetModuleFileNameA(module, self, sizeof self);
  if (length == 0 || length >= sizeof logPath) {
    return 0;
  }
  length = GetEnvironmentVariableA("KVS_PROBE_TAG", tag, sizeof tag);
  if (length >= sizeof tag) {
    tag[0] = '\0';
  } else if (length == 0) {
    tag[0] = '\0';
  }
  HANDLE file = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return 1;
  }
  const char* commandLine = GetCommandLineA();
  DWORD written;
  WriteFile(file, self, TextLength(self), &written, NULL);
  WriteFile(file, "|", 1, &written, NULL);
  WriteFile(file, commandLine, TextLength(commandLine), &written, NULL);
  WriteFile(file, "|", 1, &written, NULL);
  WriteFile(file, tag, TextLength(tag), &written, NULL);
  WriteFile(file, "\r\n", 2, &written, NULL);
  CloseHandle(file);
  return 0;
}

#ifdef PROBE_LIBRARY
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    Record(instance);
  }
  return TRUE;
}
#else
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  (void)instance;
  (void)previous;
  (void)arguments;
  (void)show;
  // A library named by KVS_PROBE_LOAD is loaded by name first, as the system loads its own
  // libraries' dependencies: where the search finds a planted one, its load is logged first.
  char library[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("KVS_PROBE_LOAD", library, sizeof library);
  if (length != 0 && length < sizeof library) {
    LoadLibraryA(library);
  }
  return Record(NULL);
}
#endif
