// The test side of runonce.exe (runonce_probe.c): where its log goes, what it recorded, and
// whether a copy started by a given process is still running.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "support/test_support.h"

class RunOnceProbe {
public:
  // Children started from now on log into a fresh file; tag marks their lines.
  explicit RunOnceProbe(const char* tag = "") {
    SetEnvironmentVariableA("KVS_PROBE_LOG", LogPath().c_str());
    Tag(tag);
  }
  ~RunOnceProbe() {
    SetEnvironmentVariableA("KVS_PROBE_LOG", NULL);
    SetEnvironmentVariableA("KVS_PROBE_TAG", NULL);
  }
  void Tag(const char* tag) const {
    SetEnvironmentVariableA("KVS_PROBE_TAG", tag);
  }
  std::string LogPath() const {
    return folder_ / "runonce.log";
  }
  // "<command line>|<tag>\r\n" per start; empty when it never ran.
  std::string Log() const {
    return FileExists(LogPath()) ? ReadTextFile(LogPath()) : std::string();
  }
  // The probe as built, beside the test programs; copied beside setup.exe it is what WinExec
  // finds first for "runonce".
  static std::string ExePath() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string exe = path;
    return exe.substr(0, exe.find_last_of('\\')) + "\\runonce.exe";
  }
  // Whether a runonce.exe whose parent is process parent is still running.
  static bool Running(DWORD parent) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
      return false;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry)) {
      found = entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, "runonce.exe") == 0;
    }
    CloseHandle(snapshot);
    return found;
  }

private:
  TempFolder folder_{"probe"};
};
