#pragma once

#include <windows.h>

// Dialog procedure of the destination page (102) and the options page (110).
INT_PTR CALLBACK WizardPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
