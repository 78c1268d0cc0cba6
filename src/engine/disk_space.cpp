#include "disk_space.h"

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/text_rules.h"
#include "../ui/resources/resource.h"
#include "install_record.h"

enum { kPathSize = 512, kLabelSize = 80 };

static int32_t LowWord32(int64_t value) {
  uint32_t low = (uint32_t)((uint64_t)value & 0xFFFFFFFFu);
  return low <= 0x7FFFFFFFu ? (int32_t)low : (int32_t)(low - 0x80000000u) - 0x7FFFFFFF - 1;
}

static int32_t ReadCachedSize(int16_t groupIndex) {
  char key[32];
  FormatText(key, sizeof key, "Size%d", groupIndex + 1);
  char text[kValueSize];
  GetPrivateProfileStringA("KVSetup", key, "", text, sizeof text, installState.setupFilePath);
  return ParseSizeValue(text);
}

static void WriteMeasuredSize(int16_t groupIndex, int32_t grossSize) {
  // "sizes.txt" replaces the name "SETUP.DAT" at the end of the setup file's path.
  char path[256];
  size_t length = TextLength(installState.setupFilePath);
  if (length < 9 || length - 9 + sizeof "sizes.txt" > sizeof path) {
    return; // does not fit: the sizes file is a courtesy, never an error
  }
  CopyText(path, length - 9 + 1, installState.setupFilePath);
  AppendText(path, sizeof path, "sizes.txt");
  char key[32];
  char value[16];
  FormatText(key, sizeof key, "Size%d", groupIndex + 1);
  FormatText(value, sizeof value, "%d", grossSize);
  WritePrivateProfileStringA("KVSetup", key, value, path); // a read-only medium is ignored
}

int EstimateGroupSpace(HINF infHandle, const char* sectionName, int32_t* netSize,
                       int32_t* grossSize, int16_t groupIndex) {
  int32_t cachedSize = ReadCachedSize(groupIndex);
  int16_t* installsRemover = &installState.groups[groupIndex].installsRemover;
  *installsRemover = 0;
  INFCONTEXT context;
  if (!FindFirstLine(infHandle, sectionName, &context)) {
    return 0;
  }
  SpaceList* grossList = cachedSize == 0 ? CreateSpaceList(kSpaceListIgnoreDisk) : NULL;
  SpaceList* presenceList = CreateSpaceList(0);

  char line[kLineSize];
  char targetName[kLineSize];
  char sourceName[kLineSize];
  char sourcePath[kPathSize];
  char targetPath[kPathSize];
  do {
    if (!GetLineText(&context, line)) {
      break;
    }
    SplitGroupLine(line, targetName, sizeof targetName, sourceName, sizeof sourceName);
    *installsRemover |= (int16_t)NamesRemover(targetName);
    uint32_t targetSize = 0;
    if (cachedSize == 0 &&
        FormatText(sourcePath, sizeof sourcePath, "%s%s", installState.moduleFolder, sourceName)) {
      targetSize = GetInstalledFileSize(sourcePath);
    }
    // A target path that does not fit names no file we could copy; it is not counted.
    if (!JoinPathAlways(targetPath, sizeof targetPath, installState.destinationFolder,
                        targetName)) {
      continue;
    }
    if (grossList != NULL) {
      AddToSpaceList(grossList, targetPath, (int64_t)targetSize);
    }
    AddToSpaceList(presenceList, targetPath, 0);
  } while (FindNextLine(&context));

  char drive[5]; // two characters
  CopyCharacters(drive, sizeof drive, installState.destinationFolder, 2);
  int64_t required = 0; // a query that fails counts 0 bytes
  int32_t gross = cachedSize;
  if (grossList != NULL) {
    QuerySpaceOnDrive(grossList, drive, &required);
    gross = LowWord32(required);
  }
  *grossSize = gross;
  required = 0;
  QuerySpaceOnDrive(presenceList, drive, &required);
  *netSize = (int32_t)((uint32_t)gross + (uint32_t)LowWord32(required));
  if (cachedSize == 0) {
    WriteMeasuredSize(groupIndex, gross);
  }
  DestroySpaceList(grossList);
  DestroySpaceList(presenceList);
  return 1;
}

void MeasureFreeSpace(void) {
  char root[7]; // three characters
  CopyCharacters(root, sizeof root, installState.destinationFolder, 3);
  ULARGE_INTEGER available;
  ULARGE_INTEGER total;
  available.QuadPart = 0; // a drive that reports nothing has no free space
  if (!GetDiskFreeSpaceExA(root, &available, &total, NULL)) {
    available.QuadPart = 0;
  }
  installState.freeSpaceMB = StoreAsFloat((double)available.QuadPart / 1048576.0);
}

void UpdateSpaceLabels(HWND page) {
  char text[kLabelSize];
  FormatMegabytes(text, installState.groups[installState.optionalGroups[0]].grossSize);
  SetDlgItemTextA(page, IDC_OPTION1_SIZE, text);
  FormatMegabytes(text, installState.groups[installState.optionalGroups[1]].grossSize);
  SetDlgItemTextA(page, IDC_OPTION2_SIZE, text);
  uint32_t total = 0; // a signed 32-bit sum that wraps
  for (int i = 0; i < installState.groupCount; ++i) {
    if (installState.groups[i].selected) {
      total += (uint32_t)installState.groups[i].netSize;
    }
  }
  int32_t required = LowWord32((int64_t)total);
  FormatMegabytes(text, required);
  SetDlgItemTextA(page, IDC_REQUIRED_VALUE, text);
  installState.requiredSpaceMB = StoreAsFloat((double)required) / 1048576.0f;
}

void FormatMegabytes(char* text, int32_t bytes) {
  FormatMegabytesText(text, kLabelSize, bytes);
}
