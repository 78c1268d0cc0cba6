#include "progress_dialog.h"

#include <commctrl.h>

#include "../setup_script/install_state.h"
#include "resources/resource.h"

int32_t progressTotal = 0;
int32_t progressCount = 0;

// Whether moving the bar from one position to another can change a pixel of it: the filled
// part ends at position / range of the bar's width, where the width is the client area's or
// that less a border of one or two pixels a side, rounded down or to the nearest pixel.
static int FillMoves(HWND bar, int32_t from, int32_t to) {
  RECT client;
  GetClientRect(bar, &client);
  int32_t range = (int32_t)SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
  if (range <= 0) {
    return from != to;
  }
  from = from < 0 ? 0 : from > range ? range : from;
  to = to < 0 ? 0 : to > range ? range : to;
  for (int32_t width = client.right; width >= client.right - 4 && width > 0; width -= 2) {
    if ((int64_t)from * width / range != (int64_t)to * width / range ||
        MulDiv(from, width, range) != MulDiv(to, width, range)) {
      return 1;
    }
  }
  return 0;
}

// A step repaints the bar at once, which costs far more than copying a small file; with
// thousands of files most steps do not move the filled part by a pixel. Such steps set the
// position without the repaint; a step that moves it repaints the whole bar right away (a
// partial repaint would leave what the skipped steps moved). A bar that is not shown paints
// nothing anyway (and WM_SETREDRAW would show it).
static void StepBar(HWND bar, int32_t position) {
  if (!IsWindowVisible(bar)) {
    SendMessageA(bar, PBM_SETPOS, (WPARAM)position, 0);
    return;
  }
  int32_t before = (int32_t)SendMessageA(bar, PBM_GETPOS, 0, 0);
  SendMessageA(bar, WM_SETREDRAW, FALSE, 0);
  SendMessageA(bar, PBM_SETPOS, (WPARAM)position, 0);
  SendMessageA(bar, WM_SETREDRAW, TRUE, 0);
  if (FillMoves(bar, before, position)) {
    RedrawWindow(bar, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }
}

static void ApplyProgress(HWND window, WPARAM wParam, LPARAM lParam) {
  HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  if (wParam == 0) {
    progressTotal = (int32_t)lParam;
    progressCount = 0;
    // The whole total is the range (not only its low 16 bits), so the bar fills in proportion
    // to the work; a negative total (missing sections) counts as none.
    SendMessageA(bar, PBM_SETRANGE32, 0, progressTotal > 0 ? progressTotal : 0);
    ShowWindow(bar, SW_SHOW);
    SendMessageA(bar, PBM_SETPOS, (WPARAM)progressCount, 0);
  } else {
    progressCount = (int32_t)((uint32_t)progressCount + 1u);
    StepBar(bar, progressCount);
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG:
    SetWindowTextA(window, installState.title);
    installState.cancelRequested = 0;
    EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    break;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDC_CANCEL && ConfirmExit(window)) {
      installState.cancelRequested = 1;
      EndDialog(window, IDC_CANCEL); // hides this modeless window; RunInstall destroys it
    }
    break;
  case WM_CLOSE:
    EndDialog(window, IDC_CANCEL);
    break;
  case WM_SETUP_PROGRESS:
    ApplyProgress(window, wParam, lParam);
    break;
  }
  return FALSE;
}

INT_PTR CALLBACK ExitDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
  case WM_COMMAND:
    if (LOWORD(wParam) == IDC_NEXT) {
      EndDialog(window, IDC_NEXT);
    } else if (LOWORD(wParam) == IDC_CANCEL) {
      EndDialog(window, IDC_CANCEL);
    }
    break;
  case WM_CLOSE:
    EndDialog(window, IDC_CANCEL); // the same as Resume
    break;
  }
  return FALSE;
}

int ConfirmExit(HWND owner) {
  return DialogBoxParamA(installState.instance, MAKEINTRESOURCEA(IDD_EXIT), owner, ExitDialogProc,
                         0) == IDC_NEXT;
}
