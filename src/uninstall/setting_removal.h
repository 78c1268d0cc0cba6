// The registry values and INI entries default_install wrote.
#pragma once

// Values of default_install's AddReg lines, and their keys where empty then. With keepEntry the
// application's Uninstall entry stays, so that the removal can be started again.
void RemoveRegistryValues(int keepEntry);
// Entries of its UpdateInis lines; a section or file left empty goes with them.
void RemoveIniEntries(void);
