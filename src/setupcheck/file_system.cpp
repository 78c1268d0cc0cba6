#include "file_system.h"

#include <errno.h>
#include <stdio.h>

#include "code_page.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

// Paths are UTF-8 here; the wide functions take them whatever the process's code page is.
static std::wstring Wide(const std::string& path) {
  int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), (int)path.size(), NULL, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, path.data(), (int)path.size(), &wide[0], length);
  }
  return wide;
}

static std::string Utf8(const wchar_t* wide) {
  int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
  std::string text(length > 0 ? length : 1, '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], length, NULL, NULL);
  }
  text.resize(text.size() - 1);
  return text;
}

FileKind ExamineFile(const std::string& path, int64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
    return kNoFile;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return kFolder;
  }
  *size = (int64_t)(((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow);
  return kRegularFile;
}

static bool ListBelow(const std::string& folder, const std::string& prefix,
                      std::vector<std::string>* relative) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool read = true;
  do {
    std::string name = Utf8(entry.cFileName);
    if (name == "." || name == "..") {
      continue;
    }
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      read &= ListBelow(folder + "\\" + name, prefix + name + "\\", relative);
    } else {
      relative->push_back(prefix + name);
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return read;
}

int WriteNewFile(const std::string& path, const std::string& contents) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_EXISTS ? -1 : 0;
  }
  DWORD written = 0;
  BOOL ok = WriteFile(file, contents.data(), (DWORD)contents.size(), &written, NULL);
  ok &= CloseHandle(file);
  if (!ok || written != contents.size()) {
    DeleteFileW(Wide(path).c_str());
    return 0;
  }
  return 1;
}

static bool MoveOver(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

static void RemoveFile(const std::string& path) {
  DeleteFileW(Wide(path).c_str());
}

static FILE* OpenForReading(const std::string& path) {
  return _wfopen(Wide(path).c_str(), L"rb");
}

FileKind FindBelow(const std::string& folder, const std::string& relative, int64_t* size,
                   std::string* found) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') {
    path.push_back('\\');
  }
  path += HostName(relative);
  if (found != nullptr) {
    *found = path;
  }
  return ExamineFile(path, size);
}

#else

FileKind ExamineFile(const std::string& path, int64_t* size) {
  struct stat data;
  if (stat(path.c_str(), &data) != 0) {
    return kNoFile;
  }
  if (S_ISDIR(data.st_mode)) {
    return kFolder;
  }
  if (!S_ISREG(data.st_mode)) {
    return kNoFile;
  }
  *size = (int64_t)data.st_size;
  return kRegularFile;
}

// The entry of folder whose name matches without regard to ASCII case; false when none does.
static bool FindEntryIgnoringCase(const std::string& folder, const std::string& name,
                                  std::string* found) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    return false;
  }
  bool matched = false;
  while (struct dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      *found = entry->d_name;
      matched = true;
      break;
    }
  }
  closedir(dir);
  return matched;
}

FileKind FindBelow(const std::string& folder, const std::string& relative, int64_t* size,
                   std::string* found) {
  std::string path = folder;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = FindChar(relative, "\\/", start);
    if (end == std::string::npos) {
      end = relative.size();
    }
    std::string part = HostName(relative.substr(start, end - start));
    start = end + 1;
    if (part != "." && part != "..") {
      // Windows drops the dots and blanks that end a name.
      size_t kept = part.find_last_not_of(". ");
      part.erase(kept == std::string::npos ? 0 : kept + 1);
    }
    if (part.empty()) {
      continue; // a doubled separator names the same folder
    }
    std::string candidate = path + "/" + part;
    int64_t ignored = 0;
    std::string actual;
    if (ExamineFile(candidate, &ignored) == kNoFile && part != "." && part != ".." &&
        FindEntryIgnoringCase(path, part, &actual)) {
      candidate = path + "/" + actual;
    }
    path = candidate;
  }
  if (found != nullptr) {
    *found = path;
  }
  return ExamineFile(path, size);
}

static bool ListBelow(const std::string& folder, const std::string& prefix,
                      std::vector<std::string>* relative) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    return false;
  }
  bool read = true;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    int64_t size = 0;
    FileKind kind = ExamineFile(folder + "/" + name, &size);
    if (kind == kFolder) {
      read &= ListBelow(folder + "/" + name, prefix + name + "\\", relative);
    } else if (kind == kRegularFile) {
      relative->push_back(prefix + name);
    }
  }
  closedir(dir);
  return read;
}

int WriteNewFile(const std::string& path, const std::string& contents) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    return errno == EEXIST ? -1 : 0;
  }
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t wrote = write(fd, contents.data() + done, contents.size() - done);
    if (wrote <= 0) {
      break;
    }
    done += (size_t)wrote;
  }
  bool ok = close(fd) == 0 && done == contents.size();
  if (!ok) {
    unlink(path.c_str());
    return 0;
  }
  return 1;
}

static bool MoveOver(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

static void RemoveFile(const std::string& path) {
  unlink(path.c_str());
}

static FILE* OpenForReading(const std::string& path) {
  return fopen(path.c_str(), "rb");
}

#endif

bool ListFiles(const std::string& folder, std::vector<std::string>* relative,
               std::vector<std::string>* unnamed) {
  relative->clear();
  unnamed->clear();
  std::vector<std::string> found;
  bool read = ListBelow(folder, "", &found);
  for (const std::string& host : found) {
    std::string name;
    if (CodePageName(host, &name)) {
      relative->push_back(name);
    } else {
      unnamed->push_back(host);
    }
  }
  return read;
}

bool ReplaceWholeFile(const std::string& path, const std::string& contents) {
  std::string partial = path + ".new";
  RemoveFile(partial);
  if (WriteNewFile(partial, contents) != 1) {
    return false;
  }
  if (!MoveOver(partial, path)) {
    RemoveFile(partial);
    return false;
  }
  return true;
}

int ReadWholeFile(const std::string& path, size_t limit, std::string* contents) {
  contents->clear();
  int64_t size = 0;
  if (ExamineFile(path, &size) != kRegularFile) {
    return 0;
  }
  if ((uint64_t)size > (uint64_t)limit) {
    return -1;
  }
  FILE* file = OpenForReading(path);
  if (file == nullptr) {
    return 0;
  }
  contents->resize((size_t)size);
  size_t got = size > 0 ? fread(&(*contents)[0], 1, (size_t)size, file) : 0;
  fclose(file);
  contents->resize(got);
  return got == (size_t)size ? 1 : 0;
}
