// Files, links and folders of the installation.
#pragma once

// Both links setup.exe makes, where they point at the installed program.
void RemoveProgramLinks(void);
// Every file the record lists, with a replacement left beside it; the program, SETUP.DAT and the
// record itself are left for last.
void RemoveGroupFiles(void);
// The recorded folders below the destination that are empty now, deepest first. The starters
// lie in the destination itself, which goes after them, where recorded and empty.
void RemoveEmptyFolders(void);
void RemoveDestinationFolder(void);
