#include "setup_api.h"

#include "install_state.h"
#include "system_libraries.h"
#include "text_rules.h"

// The Setup API's functions, looked up once in the system's own setupapi.dll.
static decltype(&SetupOpenInfFileA) openInfFile;
static decltype(&SetupCloseInfFile) closeInfFile;
static decltype(&SetupFindFirstLineA) findFirstLine;
static decltype(&SetupFindNextLine) findNextLine;
static decltype(&SetupGetLineTextA) getLineText;
static decltype(&SetupGetLineCountA) getLineCount;
static decltype(&SetupGetStringFieldA) getStringField;
static decltype(&SetupGetIntField) getIntField;
static decltype(&SetupGetFieldCount) getFieldCount;
static decltype(&SetupGetFileCompressionInfoA) getFileCompressionInfo;
SetDirectoryIdFunction setDirectoryId;
InstallSectionFunction installSection;

int LoadSetupApi(void) {
  static const SystemFunction kFunctions[] = {
      {"SetupOpenInfFileA", &openInfFile},
      {"SetupCloseInfFile", &closeInfFile},
      {"SetupFindFirstLineA", &findFirstLine},
      {"SetupFindNextLine", &findNextLine},
      {"SetupGetLineTextA", &getLineText},
      {"SetupGetLineCountA", &getLineCount},
      {"SetupGetStringFieldA", &getStringField},
      {"SetupGetIntField", &getIntField},
      {"SetupGetFieldCount", &getFieldCount},
      {"SetupGetFileCompressionInfoA", &getFileCompressionInfo},
      {"SetupSetDirectoryIdA", &setDirectoryId},
      {"SetupInstallFromInfSectionA", &installSection},
  };
  return LoadSystemFunctions("setupapi.dll", kFunctions, sizeof kFunctions / sizeof kFunctions[0]);
}

int StartWithSystemLibraries(void) {
  // Before anything else loads: no library is taken from the program's own folder (nor from the
  // temporary folder the removal's copy runs from).
  RestrictLibrarySearch();
  // Names and paths are walked by character of the system's ANSI code page.
  CPINFO codePage;
  if (GetCPInfo(CP_ACP, &codePage)) {
    SetLeadByteRanges(codePage.LeadByte, sizeof codePage.LeadByte);
  }
  return LoadSetupApi();
}

HINF OpenSetupFile(const char* path) {
  return openInfFile(path, NULL, INF_STYLE_WIN4, NULL);
}

void CloseSetupFile(HINF inf) {
  closeInfFile(inf);
}

int FindFirstLine(HINF inf, const char* section, INFCONTEXT* context) {
  return findFirstLine(inf, section, NULL, context) ? 1 : 0;
}

int FindNextLine(INFCONTEXT* context) {
  return findNextLine(context, context) ? 1 : 0;
}

int GetLineText(INFCONTEXT* context, char* line) {
  return getLineText(context, NULL, NULL, NULL, line, kLineSize, NULL) ? 1 : 0;
}

int GetLineField(INFCONTEXT* context, DWORD index, char* text, DWORD size) {
  return getStringField(context, index, text, size, NULL) ? 1 : 0;
}

int GetLineIntField(INFCONTEXT* context, DWORD index, int* value) {
  INT number = 0;
  int found = getIntField(context, index, &number) ? 1 : 0;
  *value = found ? number : 0;
  return found;
}

DWORD GetLineFieldCount(INFCONTEXT* context) {
  return getFieldCount(context);
}

int32_t GetSectionLineCount(HINF inf, const char* section) {
  return getLineCount(inf, section);
}

int SetDestinationDirectoryId(HINF inf, const char* folder) {
  return setDirectoryId(inf, 65600, folder) ? 1 : 0;
}

int InstallSectionByName(HWND owner, HINF inf, const char* section) {
  return installSection(owner, inf, section, SPINST_INIFILES | SPINST_REGISTRY, NULL, NULL, 0, NULL,
                        NULL, NULL, NULL)
             ? 1
             : 0;
}

int InstallDefaultSection(HWND owner, HINF inf) {
  return InstallSectionByName(owner, inf, "default_install");
}

uint32_t GetInstalledFileSize(const char* sourcePath) {
  // Wine's Setup API turns a double-byte path into Unicode one byte short per double-byte
  // character: the name it examines runs on into the memory after it, and its copy back writes
  // past its own buffer. Such a path is given in its short form, which Wine makes of ASCII only;
  // Windows, which converts it right, then examines the same file by another name.
  char shortPath[MAX_PATH];
  if (CountCharacters(sourcePath) != TextLength(sourcePath)) {
    DWORD length = GetShortPathNameA(sourcePath, shortPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      sourcePath = shortPath;
    }
  }
  char* actualName = NULL;
  DWORD sourceSize = 0;
  DWORD targetSize = 0;
  UINT compressionType = 0;
  // Only the target size is used; a source that cannot be examined counts 0 bytes.
  getFileCompressionInfo(sourcePath, &actualName, &sourceSize, &targetSize, &compressionType);
  if (actualName != NULL) {
    LocalFree(actualName);
  }
  return targetSize;
}

// ---- Disk-space lists -------------------------------------------------------------------------

namespace {

enum { kDriveCount = 26 };

struct SpaceEntry {
  uint64_t key; // 0 marks a free slot
  int64_t bytes;
  int drive;
};

} // namespace

struct SpaceList {
  unsigned int flags;
  SpaceEntry* entries;
  size_t capacity; // a power of two
  size_t used;
  int64_t driveTotals[kDriveCount];
  int64_t clusterSizes[kDriveCount]; // 0 not asked yet, -1 the drive cannot be resolved
};

static void* AllocateZeroed(size_t bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

static void Release(void* memory) {
  if (memory != NULL) {
    HeapFree(GetProcessHeap(), 0, memory);
  }
}

static int DriveIndex(const char* path) {
  char letter = path[0];
  if (letter >= 'a' && letter <= 'z') {
    letter = (char)(letter - 'a' + 'A');
  }
  if (letter < 'A' || letter > 'Z' || path[1] != ':') {
    return -1;
  }
  return letter - 'A';
}

// Paths are compared as the file system does for ASCII names: without regard to case. A trail
// byte is no letter, however it reads.
static uint64_t PathKey(const char* path) {
  uint64_t hash = 14695981039346656037ull;
  for (; *path != '\0'; ++path) {
    char c = *path;
    if (CharacterSize(path) == 2) {
      hash = (hash ^ (unsigned char)c) * 1099511628211ull;
      c = *++path; // its trail byte, taken as it stands
    } else if (c >= 'A' && c <= 'Z') {
      c = (char)(c - 'A' + 'a');
    }
    hash = (hash ^ (unsigned char)c) * 1099511628211ull;
  }
  return hash == 0 ? 1 : hash;
}

static int64_t ClusterSize(SpaceList* list, int drive) {
  if (list->clusterSizes[drive] == 0) {
    char root[4] = {(char)('A' + drive), ':', '\\', '\0'};
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                          &totalClusters) &&
        sectorsPerCluster * bytesPerSector != 0) {
      list->clusterSizes[drive] = (int64_t)sectorsPerCluster * bytesPerSector;
    } else {
      list->clusterSizes[drive] = -1;
    }
  }
  return list->clusterSizes[drive];
}

static int64_t RoundUp(int64_t bytes, int64_t cluster) {
  if (bytes <= 0) {
    return 0;
  }
  // Both are positive here: unsigned arithmetic gives the same clusters without signed 64-bit
  // division helpers in the program, and cannot overflow.
  uint64_t clusters = ((uint64_t)bytes + (uint64_t)cluster - 1) / (uint64_t)cluster;
  return (int64_t)(clusters * (uint64_t)cluster);
}

static int64_t ExistingFileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return 0;
  }
  return (int64_t)(((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow);
}

static int Grow(SpaceList* list) {
  size_t capacity = list->capacity == 0 ? 256 : list->capacity * 2;
  SpaceEntry* entries = (SpaceEntry*)AllocateZeroed(capacity * sizeof(SpaceEntry));
  if (entries == NULL) {
    return 0;
  }
  for (size_t i = 0; i < list->capacity; ++i) {
    if (list->entries[i].key != 0) {
      size_t slot = (size_t)list->entries[i].key & (capacity - 1);
      while (entries[slot].key != 0) {
        slot = (slot + 1) & (capacity - 1);
      }
      entries[slot] = list->entries[i];
    }
  }
  Release(list->entries);
  list->entries = entries;
  list->capacity = capacity;
  return 1;
}

SpaceList* CreateSpaceList(unsigned int flags) {
  SpaceList* list = (SpaceList*)AllocateZeroed(sizeof(SpaceList));
  if (list != NULL) {
    list->flags = flags;
  }
  return list;
}

void AddToSpaceList(SpaceList* list, const char* targetPath, int64_t size) {
  if (list == NULL) {
    return;
  }
  int drive = DriveIndex(targetPath);
  if (drive < 0) {
    return;
  }
  int64_t cluster = ClusterSize(list, drive);
  if (cluster < 0) {
    return;
  }
  if ((list->used + 1) * 2 > list->capacity && !Grow(list)) {
    return;
  }
  int64_t bytes = RoundUp(size, cluster);
  if ((list->flags & kSpaceListIgnoreDisk) == 0) {
    bytes -= RoundUp(ExistingFileSize(targetPath), cluster);
  }
  uint64_t key = PathKey(targetPath);
  size_t slot = (size_t)key & (list->capacity - 1);
  while (list->entries[slot].key != 0 && list->entries[slot].key != key) {
    slot = (slot + 1) & (list->capacity - 1);
  }
  SpaceEntry* entry = &list->entries[slot];
  if (entry->key == key) {
    list->driveTotals[entry->drive] -= entry->bytes; // the later copy replaces the earlier
  } else {
    entry->key = key;
    entry->drive = drive;
    ++list->used;
  }
  entry->bytes = bytes;
  list->driveTotals[drive] += bytes;
}

int QuerySpaceOnDrive(SpaceList* list, const char* driveSpec, int64_t* required) {
  *required = 0;
  int drive = DriveIndex(driveSpec);
  if (list == NULL || drive < 0) {
    return 0;
  }
  *required = list->driveTotals[drive];
  return 1;
}

void DestroySpaceList(SpaceList* list) {
  if (list != NULL) {
    Release(list->entries);
    Release(list);
  }
}
