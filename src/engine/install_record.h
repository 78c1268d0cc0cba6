// The install record, uninstall.ini in the destination: what installs of this application made
// there, so that the removal takes back only that. Kept only when a chosen group installs
// uninstall.exe inside the destination; otherwise every call here does nothing.
#pragma once

#include <windows.h>
#include <setupapi.h>

// Whether a group line's target is uninstall.exe inside the destination.
int NamesRemover(const char* target);

// Decides whether this install keeps a record, by the chosen groups. Before the copy.
void BeginInstallRecord(void);

// Adds key=1 to a section of the record (written to the spare copy).
void RecordEntry(const char* section, const char* key);

// Adds a file or folder this install created, by its full path, relative to the destination
// ("." for the destination itself); a place outside it is never recorded. The path's "/" become
// "\".
void RecordMade(const char* section, char* path);

// default_install's AddReg and UpdateInis lines: before it runs (before = 1) notes what they could
// make that is absent; after it, records what of that exists and puts the record in place.
void RecordSettings(HINF inf, int before);

// Moves the spare copy over uninstall.ini.
void CommitInstallRecord(void);
