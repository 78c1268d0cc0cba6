#include "progress_dialog.h"

#include <commctrl.h>

#include "../setup_script/install_state.h"
#include "resources/resource.h"

int32_t progressTotal = 0;
int32_t progressCount = 0;

static void ApplyProgress(HWND window, WPARAM wParam, LPARAM lParam) {
  HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  if (wParam == 0) {
    progressTotal = (int32_t)lParam;
    progressCount = 0;
    // The whole total is the range (not only its low 16 bits), so the bar fills in proportion
    // to the work; a negative total (missing sections) counts as none.
    SendMessageA(bar, PBM_SETRANGE32, 0, progressTotal > 0 ? progressTotal : 0);
    ShowWindow(bar, SW_SHOW);
  } else {
    progressCount = (int32_t)((uint32_t)progressCount + 1u);
  }
  SendMessageA(bar, PBM_SETPOS, (WPARAM)progressCount, 0);
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
