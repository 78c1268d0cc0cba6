// The registry values and INI entries the record lists.
#pragma once

// Values, list strings and then keys (where empty, deepest first) of the record. The application's
// Uninstall entry is left for last (entry 1), so that the removal can be started again.
void RemoveRegistryValues(int entry);
// Entries of the record's INI files; a section or file left empty goes with them.
void RemoveIniEntries(void);
