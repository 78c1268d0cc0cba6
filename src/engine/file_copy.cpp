#include "file_copy.h"

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/text_rules.h"
#include "../shell/system_libraries.h"
#include "../ui/progress_dialog.h"
#include "../ui/resources/resource.h"
#include "install_record.h"

enum { kQuotedSourceSize = 128, kWorkSize = 512 };

// The pace of copying assumed until this call's own copies show it: a slow medium's.
enum { kAssumedBytesPerMs = 4096 };

// What this call's copies took, for the time the next one may take.
struct CopyPace {
  uint64_t bytes;
  DWORD milliseconds; // clock ticks counted across copies: over many, their sum is their time
};

// Lets the progress window handle what is waiting for it, a Cancel click among it. Only its own
// messages are taken; no dialog keyboard handling is applied.
static void PumpProgressMessages(void) {
  MSG message;
  while (PeekMessageA(&message, installState.progressWindow, 0, 0, PM_REMOVE | PM_NOYIELD)) {
    if (message.message == WM_PAINT) {
      PaintProgressNow(); // an uncovered window shows what is current
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

static void ShowCopyError(const char* quotedSource, DWORD error) {
  char cause[kWorkSize];
  FormatText(cause, sizeof cause, "There was an error copying %s\n\n", quotedSource);
  PaintProgressNow(); // the message opens over what is current
  ShowSystemError(installState.progressWindow, cause, error, MB_ICONWARNING);
}

// Creates the folders on the way to targetPath, from position start on; failures (the folder
// exists, its parent is missing) are ignored and show up as the copy's failure.
static void CreateFoldersOnTheWay(const char* targetPath, size_t start) {
  char prefix[kLineSize];
  for (size_t i = start; targetPath[i] != '\0'; i += CharacterSize(targetPath + i)) {
    if (targetPath[i] == '\\') {
      CopyText(prefix, i + 1 <= sizeof prefix ? i + 1 : sizeof prefix, targetPath);
      if (CreateDirectoryA(prefix, NULL)) {
        RecordMade("Folders", prefix);
      }
    }
  }
}

// Removes what a failed copy left; a copy of a read-only source is read-only itself.
static void RemovePartialCopy(const char* path) {
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path);
}

// The error of a call that failed; one that left no error code is still a failure.
static DWORD FailureError(void) {
  DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

static DWORD CopyInPlace(const char* source, const char* target) {
  return CopyFileA(source, target, FALSE) ? ERROR_SUCCESS : FailureError();
}

static int IsDiskFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

static uint64_t FileSize(const WIN32_FILE_ATTRIBUTE_DATA* data) {
  return ((uint64_t)data->nFileSizeHigh << 32) | data->nFileSizeLow;
}

// Whether the new file fits where the old one is: its clusters into the free ones and those
// the old file occupies. Without figures it is tried.
static int InPlaceCopyFits(const char* source, const char* target) {
  WIN32_FILE_ATTRIBUTE_DATA from;
  WIN32_FILE_ATTRIBUTE_DATA to;
  DWORD sectorsPerCluster;
  DWORD bytesPerSector;
  DWORD freeClusters;
  DWORD totalClusters;
  char root[7]; // the target's drive, as the free space is measured: three characters
  CopyCharacters(root, sizeof root, target, 3);
  if (!GetFileAttributesExA(source, GetFileExInfoStandard, &from) ||
      !GetFileAttributesExA(target, GetFileExInfoStandard, &to) ||
      !GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    return 1;
  }
  uint64_t cluster = (uint64_t)sectorsPerCluster * bytesPerSector;
  if (cluster == 0) {
    return 1;
  }
  uint64_t needed = (FileSize(&from) + cluster - 1) / cluster;
  return needed <= freeClusters + (FileSize(&to) + cluster - 1) / cluster;
}

// Copies a file onto a target that was not there. A copy cut short by a full drive leaves a
// truncated file under Wine, so what it left is removed; the copy creates it only when the name
// is free, and other errors may come before it has, so that nothing else is ever removed here.
static DWORD CopyToNewTarget(const char* source, const char* target) {
  if (CopyFileA(source, target, TRUE)) {
    return ERROR_SUCCESS;
  }
  DWORD error = FailureError();
  if (IsDiskFull(error)) {
    RemovePartialCopy(target);
  }
  return error;
}

// Replaces an existing target so that it is always either the old file or the complete new one:
// the copy goes to the target's name with an ending added and takes the target's place only once
// it is complete. A run cut short leaves at most that one copy, which the next replacement of
// the target removes before it copies. Where that name does not fit, where that copy cannot be
// created (a folder where files may be replaced but not created), or where the drive has no
// room for both files but the new one fits in place of the old, the file is copied over the
// target.
static DWORD ReplaceExistingTarget(const char* source, const char* target) {
  char partial[MAX_PATH];
  if (!ReplacementName(partial, sizeof partial, target)) {
    return CopyInPlace(source, target);
  }
  // One left by a run cut short is removed, not copied over: a copy over an existing file keeps
  // that file's attributes under Wine, and the new file is to have the source's.
  RemovePartialCopy(partial);
  if (CopyFileA(source, partial, FALSE)) {
    if (MoveFileExA(partial, target, MOVEFILE_REPLACE_EXISTING)) {
      return ERROR_SUCCESS;
    }
    DWORD error = FailureError(); // the target in use: it stays the old file
    RemovePartialCopy(partial);
    return error;
  }
  DWORD error = FailureError();
  // A copy that was created failed reading or writing: copied over the target it would fail
  // the same way, now at the old file's cost. One that never was is tried in place; should the
  // source be what failed, that copy fails before it touches the target.
  DWORD left = GetFileAttributesA(partial);
  int created = left != INVALID_FILE_ATTRIBUTES && !(left & FILE_ATTRIBUTE_DIRECTORY);
  RemovePartialCopy(partial);
  if (IsDiskFull(error) ? InPlaceCopyFits(source, target) : !created) {
    return CopyInPlace(source, target);
  }
  return error;
}

static uint64_t SourceSize(const char* source) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA(source, GetFileExInfoStandard, &data) ? FileSize(&data) : 0;
}

static DWORD ExpectedCopyMs(const CopyPace* pace, uint64_t size) {
  uint64_t bytesPerMs = kAssumedBytesPerMs;
  if (pace->bytes != 0) {
    bytesPerMs = pace->milliseconds != 0 ? pace->bytes / pace->milliseconds : pace->bytes;
  }
  uint64_t expected = size / (bytesPerMs != 0 ? bytesPerMs : 1);
  return expected < INFINITE ? (DWORD)expected : INFINITE;
}

// Copies the line's source over its target, replacing an existing file safely.
static DWORD CopyLineFile(const char* source, char* target, CopyPace* pace) {
  // Read-only and hidden files too; a target that is not there says so here. One whose
  // attributes cannot be set for another reason (mapped by another program) counts as there.
  DWORD error = ERROR_FILE_EXISTS;
  if (!SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL)) {
    DWORD why = GetLastError();
    if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) {
      error = ERROR_SUCCESS;
    }
  }
  // A copy that may outlast the frame shows its own line first: nothing paints during it.
  uint64_t size = SourceSize(source);
  PaintProgressBefore(ExpectedCopyMs(pace, size));
  DWORD started = GetTickCount();
  if (error == ERROR_SUCCESS) {
    error = CopyToNewTarget(source, target);
    if (error == ERROR_SUCCESS) {
      RecordMade("Files", target);
    }
  }
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
    error = ReplaceExistingTarget(source, target);
  }
  pace->bytes += size;
  pace->milliseconds += GetTickCount() - started;
  return error;
}

// Copies the lines from context on: 1 when the section ended, 0 on cancel or a failure.
static int CopyLines(INFCONTEXT* context) {
  char lineText[kLineSize];
  char targetText[kLineSize];
  char quotedSource[kQuotedSourceSize];
  char work[kWorkSize];
  char currentDirectory[kLineSize] = "";
  char previousDirectory[kLineSize] = "";
  int foldersBegun = 0;
  size_t destinationLength = TextLength(installState.destinationFolder);
  CopyPace pace = {0, 0};

  do {
    PumpProgressMessages();
    if (installState.cancelRequested) {
      return 0;
    }
    if (!GetLineText(context, lineText)) {
      return 1;
    }
    char sourceName[kLineSize];
    SplitGroupLine(lineText, targetText, sizeof targetText, sourceName, sizeof sourceName);
    SetProgressText(IDC_LOWER_TEXT, targetText);
    // Paths that do not fit their buffers are refused as a failed copy, never cut.
    int fits = CopyText(quotedSource, sizeof quotedSource, sourceName);
    fits &= FormatText(work, sizeof work, "%s%s", installState.moduleFolder, sourceName);
    fits &= CopyText(lineText, sizeof lineText, work);
    fits &= JoinPathOnce(work, sizeof work, installState.destinationFolder, targetText);
    fits &= CopyText(targetText, sizeof targetText, work);

    // Counted before anything can fail, so a failed line has its step too.
    SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, 1, 0);
    if (!fits) {
      ShowCopyError(quotedSource, ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }

    CopyText(currentDirectory, sizeof currentDirectory, targetText);
    CutAtLastSeparator(currentDirectory);
    if (!EqualIgnoringAsciiCase(currentDirectory, previousDirectory)) {
      // The first pass starts at the separator after the destination folder, so the
      // destination folder itself (its last level) is made first; later passes skip it.
      size_t start = foldersBegun
                         ? destinationLength + CharacterSize(targetText + destinationLength)
                         : destinationLength;
      if (start <= destinationLength || targetText[destinationLength] != '\0') {
        CreateFoldersOnTheWay(targetText, start);
      }
      foldersBegun = 1;
    }
    CopyText(previousDirectory, sizeof previousDirectory, currentDirectory);

    DWORD error = CopyLineFile(lineText, targetText, &pace);
    if (error != ERROR_SUCCESS) {
      ShowCopyError(quotedSource, error);
      return 0;
    }
  } while (FindNextLine(context));
  return 1;
}

int CopyGroupFiles(HINF infHandle, const char* sectionName, int16_t groupIndex) {
  INFCONTEXT context;
  if (!FindFirstLine(infHandle, sectionName, &context)) {
    return 1;
  }
  SetProgressText(IDC_UPPER_TEXT, installState.groups[groupIndex].description);
  PaintProgressNow(); // a new group is announced at once
  int ok = CopyLines(&context);
  PaintProgressNow(); // and where it ended is seen
  return ok;
}
