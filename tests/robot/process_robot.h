// Out-of-process robot: starts the real setup.exe, finds its windows, reads and clicks them by
// id, and waits for it to end.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "support/test_support.h"
#include "window_snapshot.h"

// The process runs in a job of its own that ends with the guard: when the guard goes, or the test
// program ends in any way (a failed assertion, its own deadline, CTest's timeout killing it), the
// process and every process it started are ended, so that nothing hung outlives the test.
class SetupProcess {
public:
  SetupProcess() = default;
  ~SetupProcess(); // a process still running is ended, with what it started
  SetupProcess(const SetupProcess&) = delete;
  SetupProcess& operator=(const SetupProcess&) = delete;

  // Starts exePath with its own folder as working directory and the given show command.
  bool Start(const std::string& exePath, WORD showCommand = SW_SHOWNORMAL);

  // Takes over the process that the process parentId started (a program that hands its work to
  // a copy of itself and ends) from a program whose name begins with exePrefix: Wine reuses
  // process ids at once, so the id alone may also name the parent of an older process. False
  // when none appears in time.
  bool FollowChildOf(DWORD parentId, const char* exePrefix, DWORD timeoutMs = 90000);

  // Waits for a visible dialog or message box of the process that matches; NULL on timeout.
  HWND WaitForWindow(const std::function<bool(const WindowSnapshot&)>& matches,
                     DWORD timeoutMs = 90000);
  // The snapshot of the window found last by WaitForWindow.
  WindowSnapshot Snapshot(HWND window) const {
    return TakeSnapshot(window);
  }
  // Clicks a button of one of the process's windows.
  void Click(HWND window, int id);
  // Waits until window is gone (destroyed or hidden).
  bool WaitForWindowGone(HWND window, DWORD timeoutMs = 90000);
  // Waits for the process to end; false on timeout.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
  // Ends the process at once, as a power cut or a task manager would, and waits until it is gone.
  bool Kill();
  // Visible top-level windows of the process right now.
  int CountVisibleWindows() const;
  // Every top-level window of the process, for failure messages.
  std::string Describe() const;
  DWORD ProcessId() const {
    return info_.dwProcessId;
  }

private:
  PROCESS_INFORMATION info_ = {};
  HANDLE job_ = NULL;
};

// Waits until condition holds, polling every intervalMs; false on timeout.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs = 20);

// The host's path of a Windows path, through Wine's own export; empty elsewhere.
std::string HostPath(const std::string& path);
// Starts a host program (a Unix one, named by its Windows path) with the command line given;
// false when it could not be started. Its end is not awaited: it reports through files.
bool StartHostProgram(const char* program, const std::string& commandLine);

// Stops a process at one chosen read of one file: tests/robot/read_hold.py, started as a host
// program through Wine, watches the file. From Arm() on it counts the file's reads; the count-th
// is not let through: in kill mode the reader is killed outright (as a power cut would end it)
// while it waits for that read, in hold mode the read waits until Release().
class ReadHold {
public:
  enum Mode { kKill, kHold };
  ReadHold(const std::string& file, int count, Mode mode);
  ~ReadHold(); // stops watching; a read still held is let through
  ReadHold(const ReadHold&) = delete;
  ReadHold& operator=(const ReadHold&) = delete;

  // Why the file cannot be watched here (no host python3, no fanotify); empty when it is.
  const std::string& Problem() const {
    return problem_;
  }
  void Arm() const;
  bool WaitHeld(DWORD timeoutMs) const;
  void Release() const;
  // Until the reader has been killed or released.
  bool WaitDone(DWORD timeoutMs) const;
  // A report's file: "done" says what was done.
  std::string Control(const char* name) const {
    return control_ / name;
  }

private:
  void Signal(const char* name) const;
  bool Reported(const char* name) const;

  TempFolder control_{"hold"};
  std::string problem_;
};
