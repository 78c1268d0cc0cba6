#include "process_robot.h"

#include <utility>
#include <vector>

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) {
      return true;
    }
    if (GetTickCount() - start > timeoutMs) {
      return false;
    }
    Sleep(20); // polling interval, not a wait for an event
  }
}

SetupProcess::~SetupProcess() {
  if (info_.hProcess != NULL) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 99);
      WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
}

bool SetupProcess::Start(const std::string& exePath, WORD showCommand) {
  std::string folder = exePath.substr(0, exePath.find_last_of('\\'));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showCommand;
  std::string commandLine = "\"" + exePath + "\"";
  std::vector<char> command(commandLine.begin(), commandLine.end());
  command.push_back('\0');
  return CreateProcessA(exePath.c_str(), command.data(), NULL, NULL, FALSE, 0, NULL, folder.c_str(),
                        &startup, &info_) != FALSE;
}

namespace {
struct WindowSearch {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindows(HWND window, LPARAM data) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == search->processId && IsWindowVisible(window)) {
    search->windows.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> VisibleWindows(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}
} // namespace

HWND SetupProcess::WaitForWindow(const std::function<bool(const WindowSnapshot&)>& matches,
                                 DWORD timeoutMs) {
  HWND found = NULL;
  WaitUntil(
      [&] {
        for (HWND window : VisibleWindows(info_.dwProcessId)) {
          char className[32] = "";
          GetClassNameA(window, className, sizeof className);
          if (lstrcmpA(className, "#32770") == 0 && matches(TakeSnapshot(window))) {
            found = window;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

void SetupProcess::Click(HWND window, int id) {
  HWND button = GetDlgItem(window, id);
  if (button == NULL || !IsWindowEnabled(button)) {
    return; // nothing a user could click
  }
  LONG kind = GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK;
  if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) {
    // What a push button's click tells its dialog, posted straight to it. A BM_CLICK that reaches
    // the button while its dialog is still being activated can be undone by the focus change
    // (the press is cancelled with the capture), so how soon the robot clicks would matter.
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
  } else {
    PostMessageA(button, BM_CLICK, 0, 0); // check boxes keep their own state
  }
}

bool SetupProcess::WaitForWindowGone(HWND window, DWORD timeoutMs) {
  return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

bool SetupProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    return false;
  }
  if (exitCode != nullptr) {
    GetExitCodeProcess(info_.hProcess, exitCode);
  }
  return true;
}

int SetupProcess::CountVisibleWindows() const {
  return (int)VisibleWindows(info_.dwProcessId).size();
}

namespace {
BOOL CALLBACK DescribeWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<std::pair<DWORD, std::string>*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == search->first) {
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    search->second += std::string(className) + " \"" + WindowText(window) +
                      "\" visible=" + (IsWindowVisible(window) ? "1" : "0") +
                      " enabled=" + (IsWindowEnabled(window) ? "1" : "0") + "\n";
  }
  return TRUE;
}
} // namespace

std::string SetupProcess::Describe() const {
  std::pair<DWORD, std::string> search(info_.dwProcessId, "");
  EnumWindows(DescribeWindow, reinterpret_cast<LPARAM>(&search));
  return search.second;
}
