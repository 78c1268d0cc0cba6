// Loading SETUP.DAT: finding it beside the executable, opening it as an INF, reading the group
// list and the single keys, and choosing the default destination.
#pragma once

#include <windows.h>

// Fills folder (MAX_PATH bytes) with the folder the setup file is looked for in, ending with
// "\". Returns 0 when the path does not fit. Tests replace it to load from another folder.
typedef int (*ModuleFolderLocator)(char* folder);
extern ModuleFolderLocator moduleFolderLocator;
int LocateExecutableFolder(char* folder);

// Loads and validates the setup file into installState; on failure shows the message, leaves
// infHandle closed and returns 0.
int LoadSetupScript(HWND hostWindow);

// Reads the text value valueName of keyName under HKEY_LOCAL_MACHINE into buffer (MAX_PATH
// bytes); the buffer is left as it was when the key or value is missing or does not fit.
int ReadAppPath(const char* keyName, const char* valueName, char* buffer);

// Closes infHandle if it is open; it is never closed twice.
void CloseSetupScript(void);
