// The one program-wide record through which every part of the installer shares what was loaded
// from SETUP.DAT and what the user chose.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <stdint.h>

enum {
  kMaxGroups = 128,
  kValueSize = 128, // a value read from SETUP.DAT: 127 characters
  kLineSize = 256,  // an INF line text: 255 characters
  kTypedFolderSize = 256,
};

struct GroupEntry {
  char sectionName[kValueSize];
  char optionText[kValueSize];
  char description[kValueSize];
  int16_t selected;
  int32_t grossSize;
  int32_t netSize;
  int32_t lineCount;
  int16_t installsRemover; // a line puts uninstall.exe into the destination
};

struct InstallState {
  HINSTANCE instance;
  char moduleFolder[MAX_PATH];
  char setupFilePath[MAX_PATH];
  HINF infHandle;
  GroupEntry groups[kMaxGroups];
  int16_t groupCount;
  int16_t optionalGroups[kMaxGroups];
  int16_t optionalCount;
  char appName[kValueSize];
  char exeName[kValueSize];
  char title[kValueSize];
  char destinationFolder[MAX_PATH];
  char typedFolder[kTypedFolderSize];
  int16_t pageIndex;
  HWND progressWindow;
  int16_t cancelRequested;
  float freeSpaceMB;
  float requiredSpaceMB;
};

extern InstallState installState;
