// The little the checker needs from the file system, with Windows' view of names: "\" and "/"
// both separate, and letter case does not matter (looked up by hand where the system cares).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

enum FileKind { kNoFile, kRegularFile, kFolder };

// What path names, and the size of a regular file.
FileKind ExamineFile(const std::string& path, int64_t* size);

// The file at relative (Windows separators, in the selected code page) below folder, found as
// Windows would find it.
// Returns the kind, sets *size for a regular file and, when asked, *path to the path found.
FileKind FindBelow(const std::string& folder, const std::string& relative, int64_t* size,
                   std::string* path = nullptr);

// Reads a whole file of at most limit bytes. Returns 1 on success, 0 when it cannot be read,
// -1 when it is larger than limit.
int ReadWholeFile(const std::string& path, size_t limit, std::string* contents);

// Every regular file below folder, as paths relative to it with Windows separators, in the
// selected code page; *unnamed receives (as the file system spells them) those the code page
// cannot name. False when the folder cannot be read.
bool ListFiles(const std::string& folder, std::vector<std::string>* relative,
               std::vector<std::string>* unnamed);

// Writes a file that must not exist yet. Returns 1 on success, 0 on failure, -1 when it exists.
int WriteNewFile(const std::string& path, const std::string& contents);

// Replaces a file's contents as a whole: written beside it first, then moved over it, so a
// failed write leaves the old file. Returns false on failure.
bool ReplaceWholeFile(const std::string& path, const std::string& contents);
