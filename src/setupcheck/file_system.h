// The little the checker needs from the file system, with Windows' view of names: "\" and "/"
// both separate, and letter case does not matter (looked up by hand where the system cares).
#pragma once

#include <stdint.h>

#include <string>

enum FileKind { kNoFile, kRegularFile, kFolder };

// What path names, and the size of a regular file.
FileKind ExamineFile(const std::string& path, int64_t* size);

// The file at relative (Windows separators) below folder, found as Windows would find it.
// Returns the kind, sets *size for a regular file and, when asked, *path to the path found.
FileKind FindBelow(const std::string& folder, const std::string& relative, int64_t* size,
                   std::string* path = nullptr);

// Reads a whole file of at most limit bytes. Returns 1 on success, 0 when it cannot be read,
// -1 when it is larger than limit.
int ReadWholeFile(const std::string& path, size_t limit, std::string* contents);
