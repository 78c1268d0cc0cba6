// The test side of runonce.exe (runonce_probe.c): where its log goes, what it recorded, and
// whether a copy started by a given process is still running.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "support/test_support.h"

class RunOnceProbe {
public:
  // Children started from now on log into a fresh file; tag marks their lines. Meanwhile the
  // probe stands as the system folder's runonce.exe, which is what the installer starts (any
  // runonce.exe of the prefix's own is put back afterwards).
  explicit RunOnceProbe(const char* tag = "") {
    SetEnvironmentVariableA("KVS_PROBE_LOG", LogPath().c_str());
    Tag(tag);
    MoveFileA(SystemProgram().c_str(), Saved().c_str()); // kept if a saved one is there
    CopyFileA(ExePath().c_str(), SystemProgram().c_str(), FALSE);
  }
  ~RunOnceProbe() {
    SetEnvironmentVariableA("KVS_PROBE_LOG", NULL);
    SetEnvironmentVariableA("KVS_PROBE_TAG", NULL);
    DeleteFileA(SystemProgram().c_str());
    MoveFileA(Saved().c_str(), SystemProgram().c_str());
  }
  void Tag(const char* tag) const {
    SetEnvironmentVariableA("KVS_PROBE_TAG", tag);
  }
  std::string LogPath() const {
    return folder_ / "runonce.log";
  }
  // "<program>|<command line>|<tag>\r\n" per start or load; empty when nothing ran.
  std::string Log() const {
    return FileExists(LogPath()) ? ReadTextFile(LogPath()) : std::string();
  }
  // One start of the system's runonce as the installer makes it. The probe names itself where
  // the file is: on a 64-bit system, in the folder the system folder is redirected to.
  static std::string SystemStart(const std::string& tag = "") {
    char real[MAX_PATH] = "";
    if (GetSystemWow64DirectoryA(real, MAX_PATH) == 0) {
      GetSystemDirectoryA(real, MAX_PATH);
    }
    return std::string(real) + "\\runonce.exe|\"" + SystemProgram() + "\" -r|" + tag + "\r\n";
  }
  static std::string SystemProgram() {
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\runonce.exe";
  }
  // The probe as built: named by RUNONCE_PROBE, else beside the test program.
  static std::string ExePath() {
    char path[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA("RUNONCE_PROBE", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      return path[0] == '/' ? WindowsPath(path) : path;
    }
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
  static std::string Saved() {
    return SystemProgram() + ".kvs-saved";
  }
  TempFolder folder_{"probe"};
};
