#pragma once

// folder is a buffer of 256 bytes; true when it is not empty afterwards.
int ReadShellFolder(char* folder, const char* valueName);
// Makes appName.lnk in the Shell Folders folder valueName ("Programs" or "Desktop").
void CreateProgramShortcut(const char* valueName);

// The path a link file points at, into target (MAX_PATH bytes); 0 when it cannot be read.
int ReadShortcutTarget(const char* linkPath, char* target);
