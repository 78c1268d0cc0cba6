// The removal runs from a copy of the program in a folder of its own inside the temporary
// folder: a running program's own file cannot be deleted, the copy's can once it ends.
#pragma once

#include <windows.h>

// Starts the copy, which removes the installation once this process has ended. Returns 0, with
// nothing left behind, when no copy could be started.
int StartTemporaryCopy(const char* programPath);

// The copy's command line: the first process to wait for, the copy's own handle (open for
// deletion on close) and the installed program's path. Returns 0 for any other command line
// (the program started by the user).
int ReadCopyCommandLine(const char* commandLine, HANDLE* firstProcess, HANDLE* copyFile,
                        char* programPath);

// Run by the copy as its last step: moves its own file (copyPath, open as copyFile)
// out of its folder into the temporary folder, where it is deleted as the copy ends, and removes
// the folder. Returns 1 when the folder is gone.
int LeaveCopyFolder(HANDLE copyFile, const char* copyPath);
