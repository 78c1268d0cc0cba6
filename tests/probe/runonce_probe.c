/* Stands in for the shell's "runonce" in tests: appends its command line to the file named by
   KVS_PROBE_LOG, followed by the text of KVS_PROBE_TAG, one line per start. Without
   KVS_PROBE_LOG it does nothing, so it is harmless wherever it is found first. */
#include <windows.h>

static DWORD TextLength(const char* text) {
  DWORD length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show) {
  char logPath[MAX_PATH];
  char tag[64];
  DWORD length = GetEnvironmentVariableA("KVS_PROBE_LOG", logPath, sizeof logPath);
  (void)instance;
  (void)previous;
  (void)arguments;
  (void)show;
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
  WriteFile(file, commandLine, TextLength(commandLine), &written, NULL);
  WriteFile(file, "|", 1, &written, NULL);
  WriteFile(file, tag, TextLength(tag), &written, NULL);
  WriteFile(file, "\r\n", 2, &written, NULL);
  CloseHandle(file);
  return 0;
}
