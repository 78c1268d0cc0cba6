// The two tools that write SETUP.DAT: the measured SizeN lines put into the file itself, and a
// first SETUP.DAT for a folder of application files.
#pragma once

#include <string>
#include <vector>

#include "checker.h"

// The bytes of SETUP.DAT with SizeN of every measured group put into its first [KVSetup]
// section: a missing key added after the section's last entry, a stale value replaced; every
// other byte (order, comments, line ends, encoding) kept. *changes receives one line per key
// added or replaced.
std::string PutSizes(const std::string& bytes, const CheckResult& checked,
                     std::vector<std::string>* changes);

// A first SETUP.DAT for the files (relative paths, Windows separators) of an application: one
// group of every file, each folder's files together. *left receives files that no group line
// can name and that were left out, with the reason. With uninstall.exe at the top, a second
// group ships it with SETUP.DAT, and default_install registers it as the application's
// Uninstall entry, giving installedKiB as the size.
std::string FirstSetupDat(const std::string& appName, const std::string& exeName,
                          std::vector<std::string> files, std::vector<std::string>* left,
                          int64_t installedKiB = 0);

// Why a name cannot stand as APPNAME or EXENAME; empty when it can.
std::string RefuseName(const std::string& name);
