#include "window_snapshot.h"

std::string WindowText(HWND window) {
  char text[4096];
  text[0] = '\0';
  GetWindowTextA(window, text, sizeof text);
  return text;
}

const ControlState* WindowSnapshot::Control(int id) const {
  for (const ControlState& control : controls) {
    if (control.id == id) {
      return &control;
    }
  }
  return nullptr;
}

std::string WindowSnapshot::Text(int id) const {
  const ControlState* control = Control(id);
  return control ? control->text : std::string("<no control ") + std::to_string(id) + ">";
}

HICON WindowSnapshot::Icon() const {
  for (const ControlState& control : controls) {
    if (control.icon != NULL) {
      return control.icon;
    }
  }
  return NULL;
}

static BOOL CALLBACK AddControl(HWND child, LPARAM data) {
  WindowSnapshot* snapshot = reinterpret_cast<WindowSnapshot*>(data);
  if (GetParent(child) != snapshot->window) {
    return TRUE; // only direct children
  }
  ControlState control;
  control.id = GetDlgCtrlID(child);
  char className[128] = "";
  GetClassNameA(child, className, sizeof className);
  control.className = className;
  control.text = WindowText(child);
  control.visible = IsWindowVisible(child) != FALSE;
  control.enabled = IsWindowEnabled(child) != FALSE;
  control.style = GetWindowLongA(child, GWL_STYLE);
  control.exStyle = GetWindowLongA(child, GWL_EXSTYLE);
  DWORD process = 0;
  GetWindowThreadProcessId(child, &process);
  if (process == GetCurrentProcessId() && lstrcmpiA(className, "Static") == 0 &&
      (control.style & SS_TYPEMASK) == SS_ICON) {
    control.icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
  }
  snapshot->controls.push_back(control);
  return TRUE;
}

WindowSnapshot TakeSnapshot(HWND window) {
  WindowSnapshot snapshot;
  snapshot.window = window;
  char className[128] = "";
  GetClassNameA(window, className, sizeof className);
  snapshot.className = className;
  snapshot.caption = WindowText(window);
  snapshot.style = GetWindowLongA(window, GWL_STYLE);
  EnumChildWindows(window, AddControl, reinterpret_cast<LPARAM>(&snapshot));
  return snapshot;
}
