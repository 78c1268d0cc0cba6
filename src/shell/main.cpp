#include <windows.h>

#include "host_window.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/system_libraries.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!StartWithSystemLibraries() || !LoadCommonControls()) {
    return 0;
  }
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
