#include "process_robot.h"

#include <tlhelp32.h>

#include <string.h>

#include <utility>
#include <vector>

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) {
      return true;
    }
    if (GetTickCount() - start > timeoutMs) {
      return false;
    }
    Sleep(intervalMs); // polling interval, not a wait for an event
  }
}

SetupProcess::~SetupProcess() {
  if (job_ != NULL) {
    TerminateJobObject(job_, 99);
  }
  if (info_.hProcess != NULL) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 99);
      WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    if (info_.hThread != NULL) {
      CloseHandle(info_.hThread);
    }
  }
  if (job_ != NULL) {
    CloseHandle(job_);
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
  // Only the handle held here keeps the job: if the test program is killed, the system closes it
  // and ends the job's processes.
  job_ = CreateJobObjectA(NULL, NULL);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job_ != NULL &&
      !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job_);
    job_ = NULL;
  }
  // Suspended until it is in the job, so that nothing it starts escapes it.
  if (!CreateProcessA(exePath.c_str(), command.data(), NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                      folder.c_str(), &startup, &info_)) {
    return false;
  }
  if (job_ != NULL) {
    AssignProcessToJobObject(job_, info_.hProcess);
  }
  ResumeThread(info_.hThread);
  return true;
}

bool SetupProcess::FollowChildOf(DWORD parentId, const char* exePrefix, DWORD timeoutMs) {
  DWORD childId = 0;
  WaitUntil(
      [&] {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more && childId == 0;
             more = Process32Next(snapshot, &entry)) {
          childId = entry.th32ParentProcessID == parentId &&
                            _strnicmp(entry.szExeFile, exePrefix, strlen(exePrefix)) == 0
                        ? entry.th32ProcessID
                        : 0;
        }
        CloseHandle(snapshot);
        return childId != 0;
      },
      timeoutMs);
  HANDLE process = childId == 0
                       ? NULL
                       : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE,
                                     FALSE, childId);
  if (process == NULL) {
    return false;
  }
  info_.hProcess = process;
  info_.hThread = NULL;
  info_.dwProcessId = childId;
  return true;
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

bool SetupProcess::Kill() {
  TerminateProcess(info_.hProcess, 1);
  return WaitForSingleObject(info_.hProcess, 30000) == WAIT_OBJECT_0;
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

// The host's path of a Windows path, through Wine's own export; empty elsewhere.
std::string HostPath(const std::string& path) {
  typedef char*(CDECL * ToHost)(LPCWSTR);
  ToHost toHost =
      (ToHost)(void*)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
  WCHAR wide[MAX_PATH];
  if (toHost == NULL || MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0) {
    return "";
  }
  char* hostPath = toHost(wide);
  if (hostPath == NULL) {
    return "";
  }
  std::string result = hostPath;
  HeapFree(GetProcessHeap(), 0, hostPath);
  return result;
}

bool StartHostProgram(const char* program, const std::string& commandLine) {
  // Started through host_start.exe, beside the test programs: see there why.
  char self[MAX_PATH] = "";
  GetModuleFileNameA(NULL, self, MAX_PATH);
  std::string starter = self;
  starter = starter.substr(0, starter.find_last_of('\\')) + "\\host_start.exe";
  SetEnvironmentVariableA("KVS_HOST_PROGRAM", program);
  SetEnvironmentVariableA("KVS_HOST_COMMAND", commandLine.c_str());
  SetupProcess start;
  DWORD started = 1;
  const bool ran = start.Start(starter) && start.WaitForExit(60000, &started);
  SetEnvironmentVariableA("KVS_HOST_PROGRAM", NULL);
  SetEnvironmentVariableA("KVS_HOST_COMMAND", NULL);
  return ran && started == 0;
}

ReadHold::ReadHold(const std::string& file, int count, Mode mode) {
  const std::string hostFile = HostPath(file);
  const std::string hostControl = HostPath(control_.Path());
  if (hostFile.empty() || hostControl.empty()) {
    problem_ = "no host paths: not under Wine";
    return;
  }
  std::string commandLine =
      std::string("python3 \"") + SOURCE_DIR + "/tests/robot/read_hold.py\" \"" + hostFile + "\" " +
      std::to_string(count) + (mode == kKill ? " kill \"" : " hold \"") + hostControl + "\"";
  if (!StartHostProgram("Z:\\usr\\bin\\python3", commandLine)) {
    problem_ = "host python3 could not be started";
    return;
  }
  if (!WaitUntil([&] { return Reported("ready") || Reported("refused"); }, 60000)) {
    problem_ = "the watch never started";
  } else if (Reported("refused")) {
    problem_ = ReadTextFile(control_ / "refused");
  }
}

ReadHold::~ReadHold() {
  Signal("stop");
  WaitUntil([&] { return Reported("ended"); }, 10000);
}

void ReadHold::Signal(const char* name) const {
  WriteTextFile(control_ / name, "");
}

bool ReadHold::Reported(const char* name) const {
  return FileExists(control_ / name);
}

void ReadHold::Arm() const {
  Signal("armed");
}

bool ReadHold::WaitHeld(DWORD timeoutMs) const {
  return WaitUntil([&] { return Reported("held"); }, timeoutMs);
}

void ReadHold::Release() const {
  Signal("release");
}

bool ReadHold::WaitDone(DWORD timeoutMs) const {
  return WaitUntil([&] { return Reported("done"); }, timeoutMs);
}
