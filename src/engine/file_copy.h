// Copies one group's files from the installer's folder into the destination folder.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <stdint.h>

int CopyGroupFiles(HINF infHandle, const char* sectionName, int16_t groupIndex);

// Whether a copy to a fresh name failed because that name could not be created there (access,
// a folder in the way, a name too long or invalid for the drive) rather than while reading the
// source or writing the copy. Only the first leaves the target's old file safe to copy over:
// the second would fail the same way in place, at the old file's cost. Inline: the program
// calls it once, and setup.exe's bytes count.
static inline int SpareCopyWasRefused(DWORD error) {
  // Creating files not allowed in the folder; the name held open by another program or taken
  // by a folder; the name too long or invalid where it is.
  static const uint16_t kRefused[] = {ERROR_ACCESS_DENIED,  ERROR_SHARING_VIOLATION,
                                      ERROR_FILE_EXISTS,    ERROR_ALREADY_EXISTS,
                                      ERROR_DIRECTORY,      ERROR_CANNOT_MAKE,
                                      ERROR_PATH_NOT_FOUND, ERROR_FILENAME_EXCED_RANGE,
                                      ERROR_INVALID_NAME,   ERROR_BAD_PATHNAME};
  size_t i = 0;
  while (i < sizeof kRefused / sizeof kRefused[0] && kRefused[i] != error) {
    ++i;
  }
  return i < sizeof kRefused / sizeof kRefused[0];
}
