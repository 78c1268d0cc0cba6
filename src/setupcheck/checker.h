// Checks a distribution folder the way the installer will experience it: SETUP.DAT opened as an
// INF and read key by key as an INI file, every group line split, every source file looked up.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

enum Severity { kWarning, kError };

struct Finding {
  int line; // 0 for the file as a whole
  Severity severity;
  std::string text;
};

// A group's measured installed size: what the installer writes to sizes.txt as SizeN.
struct MeasuredSize {
  int group; // N, from 1
  int32_t bytes;
};

struct CheckResult {
  bool folderMissing = false;
  std::vector<Finding> findings; // in line order
  std::vector<MeasuredSize> sizes;
};

enum { kDefaultClusterSize = 4096 };

void CheckDistribution(const std::string& folder, int64_t clusterSize, CheckResult* result);

int CountErrors(const CheckResult& result);
