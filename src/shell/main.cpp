#include <windows.h>

#include "host_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!RegisterHostClass(instance) || !CreateHostWindow(instance)) {
    return 0;
  }
  MSG message;
  // GetMessageA returns -1 only on an error; treating it as the end avoids a busy loop.
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return (int)message.wParam;
}
