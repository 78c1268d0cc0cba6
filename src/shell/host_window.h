// The minimized host window that owns every dialog of the run and starts the run from inside
// its message loop.
#pragma once

#include <windows.h>

enum { IDM_START_INSTALL = 100 };

extern int positionLocked;

int RegisterHostClass(HINSTANCE instance);
int CreateHostWindow(HINSTANCE instance);
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
