// The progress window (108), the Exit Setup question (109) and the progress protocol.
#pragma once

#include <windows.h>
#include <stdint.h>

// wParam 0: reset to the total in lParam; any other wParam: one step.
enum { WM_SETUP_PROGRESS = WM_USER + 5 };

extern int32_t progressTotal;
extern int32_t progressCount;

// The progress window's changing parts (its two text lines and its bar) keep their state exact
// on every change, but while steps come in they are painted once a frame: ten times what the
// last frame cost, kept between these bounds (in milliseconds), the display's pace rather than
// the files'.
enum { kProgressFrameIntervalMin = 30, kProgressFrameIntervalMax = 150 };
// Any other value fixes the time between two frames (for tests and measurements).
enum : DWORD { kProgressFrameFollowsCost = 0xFFFFFFFEu };
extern DWORD progressFrameInterval;

// Paints the changing parts as they are now, shows them on the screen, and lets them paint
// every change at once again, until the next step. Called before anything opens over the window
// or answers the user, and before a part is shown or hidden.
void PaintProgressNow(void);
// Before work expected to take expectedMs, during which nothing can paint: paints and shows
// the changing parts now should the next frame come due before the work is done.
void PaintProgressBefore(DWORD expectedMs);
// Sets the text of the upper (IDC_UPPER_TEXT) or the lower (IDC_LOWER_TEXT) text line.
void SetProgressText(int id, const char* text);

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ExitDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// True exactly when the user chose "E&xit Setup".
int ConfirmExit(HWND owner);
