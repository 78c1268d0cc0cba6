// Out-of-process robot: starts the real setup.exe, finds its windows, reads and clicks them by
// id, and waits for it to end.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "window_snapshot.h"

class SetupProcess {
public:
  SetupProcess() = default;
  ~SetupProcess(); // a process still running is ended
  SetupProcess(const SetupProcess&) = delete;
  SetupProcess& operator=(const SetupProcess&) = delete;

  // Starts exePath with its own folder as working directory and the given show command.
  bool Start(const std::string& exePath, WORD showCommand = SW_SHOWNORMAL);

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
  // Visible top-level windows of the process right now.
  int CountVisibleWindows() const;
  // Every top-level window of the process, for failure messages.
  std::string Describe() const;
  DWORD ProcessId() const {
    return info_.dwProcessId;
  }

private:
  PROCESS_INFORMATION info_ = {};
};

// Waits until condition holds, polling; false on timeout.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
