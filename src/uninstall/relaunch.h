// The removal runs from a copy of the program in the temporary folder: a running program's own
// file cannot be deleted, the copy's can once it ends.
#pragma once

#include <windows.h>

// Starts the copy, which removes the installation once this process has ended. Returns 0, with
// nothing left behind, when no copy could be started.
int StartTemporaryCopy(const char* programPath);

// The copy's command line: the first process to wait for and the installed program's path.
// Returns 0 for any other command line (the program started by the user).
int ReadCopyCommandLine(const char* commandLine, HANDLE* firstProcess, char* programPath);
