// Files, links and folders of the installation.
#pragma once

// Both links setup.exe makes, where they point at the installed program.
void RemoveProgramLinks(void);
// Every file the record lists, with a replacement left beside it; the program, SETUP.DAT and the
// record itself are left for last.
void RemoveGroupFiles(void);
// The recorded folders that are empty now, deepest first, then the destination.
void RemoveEmptyFolders(void);
