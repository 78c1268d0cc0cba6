// Checks a distribution folder the way the installer will experience it: SETUP.DAT opened as an
// INF and read key by key as an INI file, every group line split, every source file looked up.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "inf_reader.h"

enum Severity { kWarning, kError };

struct Finding {
  int line; // 0 for the file as a whole
  Severity severity;
  std::string text;
  int sizeKey = 0; // N when the finding is about the value of SizeN, which measuring replaces
};

// A group's measured installed size: what the installer writes to sizes.txt as SizeN.
struct MeasuredSize {
  int group; // N, from 1
  int32_t bytes;
};

// A group as the installer loads it.
struct LoadedGroup {
  int number; // N, from 1
  std::string section;
  std::string option; // OptionN: makes the group optional when not empty
  std::string description;
  int line;           // of GroupN
  int32_t cachedSize; // SizeN as the installer converts it; 0: the group is measured
};

struct CheckResult {
  bool folderMissing = false;
  std::vector<Finding> findings; // in line order
  std::vector<MeasuredSize> sizes;

  // What the installer loads, for the tools built on the check.
  bool opened = false; // SETUP.DAT opened as an INF
  InfFile inf;
  IniFile ini;
  std::vector<LoadedGroup> groups;
  std::vector<int> options; // N of every non-empty OptionN read, the list's end included
  std::string appName, exeName, title;
  std::string path; // [KVSetup] Path
  int pathLine = 0;
};

enum { kDefaultClusterSize = 4096 };

void CheckDistribution(const std::string& folder, int64_t clusterSize, CheckResult* result);

int CountErrors(const CheckResult& result);
