#include "ui_robot.h"

#include "ui/resources/resource.h"

namespace {
UiRobot* activeRobot = nullptr;
const UINT kRunLater = WM_APP + 1;
const UINT_PTR kWatchdogTimer = 1;
const UINT kWatchdogMs = 30000;
} // namespace

bool IsDestinationPage(const WindowSnapshot& w) {
  return w.Has(IDC_INTRODUCTION);
}
bool IsOptionsPage(const WindowSnapshot& w) {
  return w.Has(IDC_OPTION1);
}
bool IsProgressWindow(const WindowSnapshot& w) {
  return w.Has(IDC_PROGRESS_BAR);
}
bool IsExitQuestion(const WindowSnapshot& w) {
  return w.caption == "Exit Setup" && !w.IsMessageBox();
}
bool IsMessageBox(const WindowSnapshot& w) {
  return w.IsMessageBox();
}
bool IsFolderBrowser(const WindowSnapshot& w) {
  for (const ControlState& c : w.controls) {
    if (c.className == "SysTreeView32") {
      return true;
    }
  }
  return false;
}
bool IsAnyWindow(const WindowSnapshot&) {
  return true;
}

UiRobot::UiRobot() {
  activeRobot = this;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MessageWindowProc;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.lpszClassName = "UiRobotMessages";
  RegisterClassA(&windowClass); // fails harmlessly when already registered
  // A hidden top-level window (not message-only) so that the modal loops' GetMessage sees it.
  messageWindow_ = CreateWindowExA(0, "UiRobotMessages", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                                   GetModuleHandleA(NULL), NULL);
  SetTimer(messageWindow_, kWatchdogTimer, kWatchdogMs, NULL);
  hook_ = SetWindowsHookExA(WH_CBT, HookProc, NULL, GetCurrentThreadId());
}

UiRobot::~UiRobot() {
  UnhookWindowsHookEx(hook_);
  KillTimer(messageWindow_, kWatchdogTimer);
  DestroyWindow(messageWindow_);
  activeRobot = nullptr;
}

void UiRobot::Expect(const char* name, WindowMatcher matcher, WindowHandler handler) {
  expectations_.push_back({name, std::move(matcher), std::move(handler)});
}

void UiRobot::ExpectAndClick(const char* name, WindowMatcher matcher, int buttonId) {
  Expect(name, std::move(matcher),
         [buttonId](UiRobot&, const WindowSnapshot& w) { UiRobot::Click(w.window, buttonId); });
}

void UiRobot::Later(std::function<void()> fn) {
  pending_.push_back(std::move(fn));
  PostMessageA(messageWindow_, kRunLater, 0, 0);
}

void UiRobot::Click(HWND window, int id) {
  HWND button = GetDlgItem(window, id);
  if (button != NULL) {
    PostMessageA(button, BM_CLICK, 0, 0);
  }
}

std::vector<WindowSnapshot> UiRobot::MessageBoxes() const {
  std::vector<WindowSnapshot> boxes;
  for (const WindowSnapshot& w : seen_) {
    if (w.IsMessageBox()) {
      boxes.push_back(w);
    }
  }
  return boxes;
}

std::string UiRobot::Report() const {
  std::string report;
  for (const std::string& problem : problems_) {
    report += "problem: " + problem + "\n";
  }
  for (const Expectation& e : expectations_) {
    report += "never seen: " + e.name + "\n";
  }
  for (const WindowSnapshot& w : seen_) {
    report += "seen: \"" + w.caption + "\"";
    if (w.IsMessageBox()) {
      report += " text \"" + w.MessageText() + "\"";
    }
    report += " controls";
    for (const ControlState& c : w.controls) {
      report += " " + std::to_string(c.id) + ":" + c.className;
    }
    report += "\n";
  }
  return report;
}

LRESULT CALLBACK UiRobot::HookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (activeRobot != nullptr) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE) {
      activeRobot->OnActivate(window);
    } else if (code == HCBT_DESTROYWND) {
      std::vector<HWND>& known = activeRobot->known_;
      for (size_t i = 0; i < known.size(); ++i) {
        if (known[i] == window) {
          known.erase(known.begin() + i);
          break;
        }
      }
    }
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}

void UiRobot::OnActivate(HWND window) {
  char className[32] = "";
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpA(className, "#32770") != 0) {
    return; // only dialogs and message boxes
  }
  for (HWND known : known_) {
    if (known == window) {
      return; // activated again after a window above it closed
    }
  }
  known_.push_back(window);
  WindowSnapshot snapshot = TakeSnapshot(window);
  seen_.push_back(snapshot);
  if (!expectations_.empty() && expectations_.front().matcher(snapshot)) {
    Expectation expectation = std::move(expectations_.front());
    expectations_.erase(expectations_.begin());
    expectation.handler(*this, snapshot);
    return;
  }
  if (IsProgressWindow(snapshot)) {
    return; // modeless: it needs no answer
  }
  std::string what = "unexpected window \"" + snapshot.caption + "\"";
  if (snapshot.IsMessageBox()) {
    what += " saying \"" + snapshot.MessageText() + "\"";
  }
  if (!expectations_.empty()) {
    what += " while waiting for " + expectations_.front().name;
  }
  problems_.push_back(what);
  Later([window] { EndDialog(window, IDCANCEL); });
}

LRESULT CALLBACK UiRobot::MessageWindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (activeRobot != nullptr && message == kRunLater && !activeRobot->pending_.empty()) {
    std::function<void()> fn = std::move(activeRobot->pending_.front());
    activeRobot->pending_.erase(activeRobot->pending_.begin());
    fn();
    return 0;
  }
  if (activeRobot != nullptr && message == WM_TIMER && wParam == kWatchdogTimer) {
    // Nothing may wait for ever: close whatever is still open and say so.
    activeRobot->problems_.push_back("watchdog: windows still open after 30 s");
    for (HWND known : activeRobot->known_) {
      EndDialog(known, IDCANCEL);
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
