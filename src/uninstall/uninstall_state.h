// What the removal keeps beside installState: where the installed program lies and what could
// not be removed.
#pragma once

#include <windows.h>

enum { kFailedListSize = 1024 };

struct RemovalState {
  char programPath[MAX_PATH];   // uninstall.exe in the installed folder
  char failed[kFailedListSize]; // the files that stayed, one a line
  int failedCount;
  int failedListCut; // the list ends with "...": more stayed than it can name
};

extern RemovalState removalState;

// The last "\" of path, walked character by character (in a double-byte code page a second byte
// can be "\"); NULL when there is none.
char* LastSeparator(char* path);

// Deletes a file the install made, read-only or not; a file that is not there is no failure, one
// that stays is named in the closing message.
void DeleteInstalledFile(const char* path);
