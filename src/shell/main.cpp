#include <windows.h>

#include "../setup_script/text_rules.h"
#include "host_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Names and paths are walked by character of the system's ANSI code page.
  CPINFO codePage;
  if (GetCPInfo(CP_ACP, &codePage)) {
    SetLeadByteRanges(codePage.LeadByte, sizeof codePage.LeadByte);
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
