/* Stands in for the shell's "runonce" in tests: appends its own file name, its command line and
   the text of KVS_PROBE_TAG to the file named by KVS_PROBE_LOG, one line per start. Built as a
   library (PROBE_LIBRARY) it stands in for a library planted beside setup.exe and records each
   load the same way. Without KVS_PROBE_LOG it does nothing, so it is harmless wherever it is
   found. */
#include <windows.h>

static DWORD TextLength(const char* text) {
  DWORD length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

static void Append(HANDLE file, const char* text) {
  DWORD written;
  WriteFile(file, text, TextLength(text), &written, NULL);
}

static int Record(HMODULE module) {
  char logPath[MAX_PATH];
  char tag[64];
  char self[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("KVS_PROBE_LOG", logPath, sizeof logPath);
  if (length == 0 || length >= sizeof logPath) {
    return 0;
  }
  length = GetEnvironmentVariableA("KVS_PROBE_TAG", tag, sizeof tag);
  if (length == 0 || length >= sizeof tag) {
    tag[0] = '\0';
  }
  length = GetModuleFileNameA(module, self, sizeof self);
  if (length == 0 || length >= sizeof self) {
    self[0] = '\0';
  }
  HANDLE file = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return 1;
  }
  Append(file, self);
  Append(file, "|");
  Append(file, GetCommandLineA());
  Append(file, "|");
  Append(file, tag);
  Append(file, "\r\n");
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
  return Record(NULL);
}
#endif
