#include "host_window.h"

#include "../engine/install_driver.h"
#include "../setup_script/install_state.h"
#include "../ui/resources/resource.h"

static const char kHostClassName[] = "KVSetupClass";

int positionLocked = 0;

int RegisterHostClass(HINSTANCE instance) {
  WNDCLASSA windowClass;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SETUP));
  windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
  windowClass.lpszClassName = kHostClassName;
  return RegisterClassA(&windowClass) != 0;
}

int CreateHostWindow(HINSTANCE instance) {
  installState.instance = instance;
  HWND window =
      CreateWindowExA(0, kHostClassName, "Kelvara Setup", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance, NULL);
  if (window == NULL) {
    return 0;
  }
  // Always minimized, whatever show command the process was started with.
  ShowWindow(window, SW_MINIMIZE);
  UpdateWindow(window);
  return 1;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_CREATE:
    // Posted, so that the run starts only once the message loop is running.
    PostMessageA(window, WM_COMMAND, IDM_START_INSTALL, 0);
    return 0;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDM_START_INSTALL) {
      RunInstall(window);
      PostMessageA(window, WM_DESTROY, 0, 0);
      return 0;
    }
    break;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  case WM_WINDOWPOSCHANGING:
    // The first change (the minimized showing) goes through; every later move, size, show or
    // redraw is cancelled so the window stays minimized where it is for the whole run.
    if (!positionLocked) {
      positionLocked = 1;
    } else {
      ((WINDOWPOS*)lParam)->flags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW | SWP_NOOWNERZORDER;
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
