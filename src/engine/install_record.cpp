#include "install_record.h"

#include "../setup_script/install_state.h"
#include "../setup_script/registry_line_flags.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/text_rules.h"

// Settings absent before default_install, held until it has run. Beyond the bound nothing more
// is noted, so nothing more recorded: what is not recorded is never removed.
enum { kMaxNoted = 64, kListSize = 8192 };

static char recordPath[MAX_PATH]; // "" when this install keeps no record
static char sparePath[MAX_PATH];
static size_t belowAt; // where a path below the destination goes on after it
static int spareStarted;
static int judging;
static int notedCount;
static char noted[kMaxNoted][kLineSize];
static char list[kListSize];

int NamesRemover(const char* target) {
  const char* name = target;
  for (const char* p = target; *p != '\0'; p += CharacterSize(p)) {
    if (*p == '\\' || *p == '/') {
      name = p + 1;
    }
  }
  return !NamesPlaceOutside(target) && EqualIgnoringAsciiCase(name, "uninstall.exe");
}

void BeginInstallRecord(void) {
  recordPath[0] = '\0';
  spareStarted = 0;
  notedCount = 0;
  int wanted = 0;
  for (int i = 0; i < installState.groupCount; ++i) {
    wanted |= installState.groups[i].selected & installState.groups[i].installsRemover;
  }
  if (wanted &&
      (!JoinPathOnce(recordPath, MAX_PATH, installState.destinationFolder, "uninstall.ini") ||
       !ReplacementName(sparePath, MAX_PATH, recordPath))) {
    recordPath[0] = '\0';
  }
  belowAt = TextLength(recordPath) - (sizeof "uninstall.ini" - 1);
}

// Starts the spare from the record as it stands (an earlier install's entries stay), once the
// destination exists.
static void StartSpare(void) {
  char folder[MAX_PATH];
  CopyText(folder, sizeof folder, installState.destinationFolder);
  if (DrivePrefixLength(folder) != TextLength(folder)) {
    RemoveTrailingSeparator(folder);
  }
  spareStarted = 1;
  SetFileAttributesA(sparePath, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(sparePath);                  // one left by a run cut short
  CopyFileA(recordPath, sparePath, FALSE); // without a record the spare starts empty
  WritePrivateProfileStringA("Installation", "Application", installState.appName, sparePath);
  WritePrivateProfileStringA("Installation", "Folder", folder, sparePath);
  if (EqualIgnoringAsciiCase(installState.typedFolder, folder)) {
    RecordEntry("Folders", "."); // the folder browser made it
  }
}

void RecordEntry(const char* section, const char* key) {
  if (recordPath[0] == '\0') {
    return;
  }
  if (!spareStarted) {
    StartSpare();
  }
  // Only what a private-profile key holds as it stands; the callers' buffers keep a key within 255
  // characters and never pass an empty one.
  size_t last = TextLength(key) - 1;
  if (key[0] == '[' || key[0] == ';' || key[0] == ' ' || key[0] == '\t' || key[last] == ' ' ||
      key[last] == '\t') {
    return;
  }
  for (const char* p = key; *p != '\0'; ++p) {
    if (*p == '=') {
      return;
    }
  }
  WritePrivateProfileStringA(section, key, "1", sparePath);
}

void RecordMade(const char* section, char* path) {
  char* name = TextLength(path) < belowAt ? (char*)"." : path + belowAt;
  if (!NamesPlaceOutside(name)) {
    for (char* p = name; *p != '\0'; p += CharacterSize(p)) {
      if (*p == '/') {
        *p = '\\';
      }
    }
    RecordEntry(section, name);
  }
}

void CommitInstallRecord(void) {
  if (spareStarted) {
    MoveFileExA(sparePath, recordPath, MOVEFILE_REPLACE_EXISTING);
    spareStarted = 0;
  }
}

// Before default_install: notes an identity that is absent. After it: records a noted one
// that exists now.
static void Judge(const char* section, const char* identity, int present) {
  int i = 0;
  while (i < notedCount && !EqualIgnoringAsciiCase(noted[i], identity)) {
    ++i;
  }
  if (judging) {
    if (!present && i == notedCount && i < kMaxNoted) {
      CopyText(noted[notedCount++], kLineSize, identity);
    }
  } else if (present && i < notedCount) {
    RecordEntry(section, identity);
  }
}

// Whether a key exists (name NULL), a value of it (item NULL), or a list value holds item.
// Not inlined: the two calls would each take a copy.
__attribute__((noinline)) static int RegistryHolds(HKEY root, const char* path, const char* name,
                                                   const char* item) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return 0;
  }
  int present = 1;
  if (name != NULL) {
    DWORD size = kListSize - 2;
    LONG result = RegQueryValueExA(key, name, NULL, NULL, (BYTE*)list, &size);
    present = result == ERROR_MORE_DATA; // too long to read: taken as there, never recorded
    if (result == ERROR_SUCCESS) {
      present = item == NULL;
      list[size] = '\0';
      list[size + 1] = '\0';
      for (const char* s = list; item != NULL && s < list + size; s += TextLength(s) + 1) {
        present |= EqualIgnoringAsciiCase(s, item);
      }
    }
  }
  RegCloseKey(key);
  return present;
}

// One AddReg (registry) or UpdateInis line: fields 1 to 4 are the root, key path, value name and
// flags, or the file, section, old and new entry.
static void JudgeLine(INFCONTEXT* line, int registry) {
  static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
  char field[4][kLineSize];
  char identity[kLineSize];
  for (DWORD f = 0; f < 4; ++f) {
    if (!GetLineField(line, f + 1, field[f], kLineSize)) {
      field[f][0] = '\0';
    }
  }
  if (!registry) {
    for (char* p = field[3]; *p != '\0'; p += CharacterSize(p)) {
      if (*p == '=') {
        *p = '\0';
        break;
      }
    }
    if (FormatText(identity, sizeof identity, "%s|%s|%s", field[0], field[1], field[3])) {
      GetPrivateProfileStringA(field[1], field[3], "\x01", field[2], 4, field[0]);
      Judge("Ini", identity, field[2][0] != '\x01');
    }
    return;
  }
  int r = 0;
  while (r < 4 && !EqualIgnoringAsciiCase(field[0], kRoots[r])) {
    ++r;
  }
  if (r == 4) {
    return;
  }
  HKEY root = (HKEY)(ULONG_PTR)((ULONG_PTR)HKEY_CLASSES_ROOT + r);
  // Every key on the path: the Setup API creates the missing parents too.
  if (!FormatText(identity, sizeof identity, "%s\\%s", field[0], field[1])) {
    return;
  }
  char* path = identity + TextLength(field[0]) + 1;
  for (char* p = path;; p += CharacterSize(p)) {
    char at = *p;
    if ((at == '\\' || at == '\0') && p != path) {
      *p = '\0';
      Judge("Registry", identity, RegistryHolds(root, path, NULL, NULL));
      *p = at;
    }
    if (at == '\0') {
      break;
    }
  }
  path = field[1];
  int flags;
  GetLineIntField(line, 4, &flags);
  int appends = (flags & kAppend) != 0 && (flags & kTypeMask) == kTypeMultiSz;
  // A list line: each of its strings (fields 5 on) that the list does not hold yet.
  for (DWORD f = 5;; ++f) {
    const char* item = appends ? field[3] : NULL;
    if (appends && !GetLineField(line, f, field[3], kLineSize)) {
      return;
    }
    if (FormatText(identity, sizeof identity, appends ? "%s\\%s\\\\%s\\\\%s" : "%s\\%s\\\\%s",
                   field[0], path, field[2], item)) {
      Judge("Registry", identity, RegistryHolds(root, path, field[2], item));
    }
    if (!appends) {
      return;
    }
  }
}

void RecordSettings(HINF inf, int before) {
  INFCONTEXT directive;
  INFCONTEXT line;
  judging = before;
  if (recordPath[0] != '\0' && FindFirstLine(inf, "default_install", &directive)) {
    do {
      char key[16];
      char section[kLineSize];
      if (!GetLineField(&directive, 0, key, sizeof key)) {
        continue;
      }
      int registry = EqualIgnoringAsciiCase(key, "AddReg");
      for (DWORD f = 1; (registry || EqualIgnoringAsciiCase(key, "UpdateInis")) &&
                        GetLineField(&directive, f, section, sizeof section);
           ++f) {
        if (FindFirstLine(inf, section, &line)) {
          do {
            JudgeLine(&line, registry);
          } while (FindNextLine(&line));
        }
      }
    } while (FindNextLine(&directive));
  }
  if (!before) {
    CommitInstallRecord();
  }
}
