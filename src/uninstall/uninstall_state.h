// What the removal keeps beside installState: where the installed program lies and what could
// not be removed.
#pragma once

#include <windows.h>

#include "../setup_script/text_rules.h"

enum { kFailedListSize = 1024 };

struct RemovalState {
  char programPath[MAX_PATH];   // uninstall.exe in the installed folder
  char failed[kFailedListSize]; // the files that stayed, one a line
  int failedCount;
  int failedListCut; // the list ends with "...": more stayed than it can name
};

extern RemovalState removalState;

// The last "\" of path, a character of its own (in a double-byte code page a second byte can be
// "\"); NULL when there is none.
inline char* LastSeparator(char* path) {
  return (char*)FindLastSeparator(path);
}

// Deletes a file the install made, read-only or not; a file that is not there is no failure, one
// that stays is named in the closing message.
void DeleteInstalledFile(const char* path);
