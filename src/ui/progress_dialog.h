// The progress window (108), the Exit Setup question (109) and the progress protocol.
#pragma once

#include <windows.h>
#include <stdint.h>

// wParam 0: reset to the total in lParam; any other wParam: one step.
enum { WM_SETUP_PROGRESS = WM_USER + 5 };

extern int32_t progressTotal;
extern int32_t progressCount;

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ExitDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// True exactly when the user chose "E&xit Setup".
int ConfirmExit(HWND owner);
