// The install run from start to end: loading, the wizard, copying, default_install, the
// finishing steps and the final message.
#pragma once

#include <windows.h>

int RunInstall(HWND hostWindow);
void SetWaitCursor(void);
void SetArrowCursor(void);
int ShowFinishedMessage(HWND owner, const char* text, const char* caption, UINT style);
