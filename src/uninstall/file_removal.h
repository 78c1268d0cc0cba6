// Files, links and folders of the installation.
#pragma once

// Both links setup.exe makes, where they point at the installed program.
void RemoveProgramLinks(void);
// Every file any group names under the destination, with a replacement left beside it.
void RemoveGroupFiles(void);
// The folders of those files that are empty now, deepest first, then the destination.
void RemoveEmptyFolders(void);
