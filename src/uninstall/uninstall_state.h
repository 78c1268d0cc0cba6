// What the removal keeps beside installState: where the installed program lies, its install
// record, and what could not be removed.
#pragma once

#include <windows.h>

#include "../setup_script/text_rules.h"

enum { kFailedListSize = 1024 };

struct RemovalState {
  char programPath[MAX_PATH];   // uninstall.exe in the installed folder
  char recordPath[MAX_PATH];    // uninstall.ini beside it
  char failed[kFailedListSize]; // what stayed, one a line
  int failedCount;
  int failedListCut;    // the list ends with "...": more stayed than it can name
  int programRecorded;  // an install made uninstall.exe: it goes last
  int setupRecorded;    // and SETUP.DAT
  int entryTouched;     // a value or key of the Uninstall entry was removed
  int destinationAfter; // the destination goes once the program is gone, at the next start
};

extern RemovalState removalState;

// The last "\" of path, a character of its own (in a double-byte code page a second byte can be
// "\"); NULL when there is none.
inline char* LastSeparator(char* path) {
  return (char*)FindLastSeparator(path);
}

// Names what stayed in the closing message.
void NoteStaying(const char* what);

// Deletes a file the install made, read-only or not; a file that is not there is no failure, one
// that stays is named in the closing message. Returns 1 when it is gone.
int DeleteInstalledFile(const char* path);

// Calls visit with every key of a record section (a copy it may change), read whole however
// large the record. With byDepth the keys with the most "\" come first, "." never.
void ForEachRecordKey(const char* section, int byDepth, void (*visit)(char* key));

// A recorded path below the destination that passes through a junction or another reparse
// point (the path itself too with withSelf): nothing there is ours to enter or remove.
int PassesReparsePoint(const char* path, int withSelf);
