// The limit for copying: creates the folders and calls CopyFileA for every listed file, nothing
// else. Prints the time of the copy loop (reading the list is not counted).
//   copy_limit <source folder> <destination folder> <list: relative paths, one a line>
#include <windows.h>

#include <stdio.h>
#include <string.h>

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: copy_limit <source folder> <destination folder> <list>\n");
    return 2;
  }
  HANDLE list = CreateFileA(argv[3], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  DWORD size = list == INVALID_HANDLE_VALUE ? 0 : GetFileSize(list, NULL);
  char* names = (char*)HeapAlloc(GetProcessHeap(), 0, size + 1);
  DWORD read = 0;
  if (list == INVALID_HANDLE_VALUE || names == NULL || !ReadFile(list, names, size, &read, NULL)) {
    fprintf(stderr, "cannot read %s\n", argv[3]);
    return 2;
  }
  CloseHandle(list);
  names[read] = '\0';

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const char* destination = argv[2];
  size_t destinationLength = strlen(destination);
  CreateDirectoryA(destination, NULL);
  char source[MAX_PATH], target[MAX_PATH], folder[MAX_PATH] = "", previous[MAX_PATH] = "";
  int files = 0;
  for (char* line = strtok(names, "\r\n"); line != NULL; line = strtok(NULL, "\r\n")) {
    snprintf(source, sizeof source, "%s\\%s", argv[1], line);
    snprintf(target, sizeof target, "%s\\%s", destination, line);
    snprintf(folder, sizeof folder, "%s", target);
    char* cut = strrchr(folder, '\\');
    if (cut != NULL) {
      *cut = '\0';
    }
    if (strcmp(folder, previous) != 0) { // a new folder: make every level below the destination
      for (size_t i = destinationLength + 1; folder[i - 1] != '\0'; ++i) {
        if (folder[i] == '\\' || folder[i] == '\0') {
          char level[MAX_PATH];
          snprintf(level, sizeof level, "%.*s", (int)i, folder);
          CreateDirectoryA(level, NULL);
        }
      }
      snprintf(previous, sizeof previous, "%s", folder);
    }
    if (!CopyFileA(source, target, FALSE)) {
      fprintf(stderr, "cannot copy %s (error %lu)\n", source, GetLastError());
      return 1;
    }
    ++files;
  }
  QueryPerformanceCounter(&end);
  printf("copy=%.3f files=%d\n", Seconds(start, end, frequency), files);
  return 0;
}
