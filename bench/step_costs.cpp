// What each step of setup.exe's copy loop costs on its own, file copy aside: the progress
// window's texts, its bar, the message pump and the attribute reset, each done N times on the
// real progress window (dialog 108 loaded from setup.exe).
//   step_costs <setup.exe> [N]
#include <windows.h>

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include "ui/resources/resource.h"

static INT_PTR CALLBACK PlainDialog(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

static LARGE_INTEGER frequency;
static double Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart / (double)frequency.QuadPart;
}

static void Pump(HWND window) {
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE | PM_NOYIELD)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: step_costs <setup.exe> [N]\n");
    return 2;
  }
  int n = argc > 2 ? atoi(argv[2]) : 500;
  QueryPerformanceFrequency(&frequency);
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  HMODULE setup = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
  HWND window = CreateDialogParamA(setup, MAKEINTRESOURCEA(IDD_PROGRESS), NULL, PlainDialog, 0);
  if (window == NULL) {
    fprintf(stderr, "cannot open dialog 108 of %s\n", argv[1]);
    return 1;
  }
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  SendMessageA(bar, PBM_SETRANGE32, 0, n);
  char text[64];
  double t0 = Now();
  for (int i = 0; i < n; ++i) {
    wsprintfA(text, "d%03d\\f%05d.bin", i / 50, i);
    SetDlgItemTextA(window, IDC_LOWER_TEXT, text);
  }
  double t1 = Now();
  for (int i = 0; i < n; ++i) {
    SendMessageA(bar, PBM_SETPOS, (WPARAM)i, 0);
  }
  double t2 = Now();
  for (int i = 0; i < n; ++i) {
    SendMessageA(bar, PBM_SETPOS, (WPARAM)i, 0);
    Pump(window);
  }
  double t3 = Now();
  for (int i = 0; i < n; ++i) {
    Pump(window);
  }
  double t4 = Now();
  for (int i = 0; i < n; ++i) {
    wsprintfA(text, "C:\\no-such-folder\\f%05d.bin", i);
    SetFileAttributesA(text, FILE_ATTRIBUTE_NORMAL);
  }
  double t5 = Now();
  for (int i = 0; i < n; ++i) {
    SendMessageA(bar, WM_SETREDRAW, FALSE, 0);
    SendMessageA(bar, PBM_SETPOS, (WPARAM)(n - i), 0);
    SendMessageA(bar, WM_SETREDRAW, TRUE, 0);
    Pump(window);
  }
  double t6 = Now();
  for (int i = 0; i < n; ++i) { // what a text line does with a text set while a frame is awaited
    wsprintfA(text, "d%03d\\g%05d.bin", i / 50, i);
    DefWindowProcA(GetDlgItem(window, IDC_LOWER_TEXT), WM_SETTEXT, 0, (LPARAM)text);
  }
  double t7 = Now();
  HWND lower = GetDlgItem(window, IDC_LOWER_TEXT);
  for (int i = 0; i < n; ++i) { // the same without looking the control up
    wsprintfA(text, "d%03d\\h%05d.bin", i / 50, i);
    DefWindowProcA(lower, WM_SETTEXT, 0, (LPARAM)text);
  }
  double t8 = Now();
  for (int i = 0; i < n; ++i) { // a text set that paints, then a look that shows it on the screen
    wsprintfA(text, "d%03d\\k%05d.bin", i / 50, i);
    SetWindowTextA(lower, text);
    MSG message;
    PeekMessageA(&message, window, WM_USER + 5, WM_USER + 5, PM_NOREMOVE | PM_NOYIELD);
  }
  double t9 = Now();
  RECT r;
  GetClientRect(bar, &r);
  printf("bar client width %ld height %ld style %lx ex %lx\n", r.right, r.bottom,
         GetWindowLongA(bar, GWL_STYLE), GetWindowLongA(bar, GWL_EXSTYLE));
  const double ms = 1000.0 / n;
  printf("set_text_ms=%.3f bar_step_ms=%.3f bar_step_and_pump_ms=%.3f empty_pump_ms=%.3f "
         "attributes_ms=%.3f unpainted_step_and_pump_ms=%.3f unpainted_text_ms=%.3f "
         "unpainted_text_by_handle_ms=%.3f shown_text_ms=%.3f\n",
         (t1 - t0) * ms, (t2 - t1) * ms, (t3 - t2) * ms, (t4 - t3) * ms, (t5 - t4) * ms,
         (t6 - t5) * ms, (t7 - t6) * ms, (t8 - t7) * ms, (t9 - t8) * ms);
  DestroyWindow(window);
  return 0;
}
