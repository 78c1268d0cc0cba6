#include "progress_dialog.h"

#include <commctrl.h>

#include "../setup_script/install_state.h"
#include "resources/resource.h"

int32_t progressTotal = 0;
int32_t progressCount = 0;

DWORD progressFrameInterval = kProgressFrameInterval;

// Painting a part costs far more than copying a small file, and thousands of files pass in the
// time the eye needs for one picture. So while steps come in, the parts' painting is held back
// (WM_SETREDRAW) and they are painted together once per frame; their texts and the bar's
// position are still set on every change.
enum { kBarPart = 2, kChangingParts = 3 };
static const int changingPartIds[kChangingParts] = {IDC_UPPER_TEXT, IDC_LOWER_TEXT,
                                                    IDC_PROGRESS_BAR};
static HWND partsWindow; // the progress window the parts belong to (one at a time)
static HWND changingParts[kChangingParts]; // taken once: a look-up per step would cost a call
static int partHeld[kChangingParts];       // painting held back, to be let go again
static int paintingHeld;
static DWORD lastFrame; // when the parts were last painted

static void HoldPainting(void) {
  for (int i = 0; i < kChangingParts; ++i) {
    // A hidden part is left alone: letting it paint again (WM_SETREDRAW) would show it.
    partHeld[i] = (GetWindowLongA(changingParts[i], GWL_STYLE) & WS_VISIBLE) != 0;
    if (partHeld[i]) {
      SendMessageA(changingParts[i], WM_SETREDRAW, FALSE, 0);
    }
  }
  paintingHeld = 1;
}

void PaintProgressNow(void) {
  if (!paintingHeld) {
    return; // nothing held: every change has been painted already
  }
  paintingHeld = 0;
  for (int i = 0; i < kChangingParts; ++i) {
    if (partHeld[i]) {
      SendMessageA(changingParts[i], WM_SETREDRAW, TRUE, 0);
      RedrawWindow(changingParts[i], NULL, NULL, RDW_INVALIDATE | RDW_ERASE);
    }
  }
  // The window first, should it have been uncovered meanwhile: its background would otherwise
  // be painted over the parts.
  RedrawWindow(partsWindow, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
  lastFrame = GetTickCount();
}

static void ApplyProgress(WPARAM wParam, LPARAM lParam) {
  HWND bar = changingParts[kBarPart];
  if (wParam == 0) {
    PaintProgressNow(); // a new count is shown at once
    progressTotal = (int32_t)lParam;
    progressCount = 0;
    // The whole total is the range (not only its low 16 bits), so the bar fills in proportion
    // to the work; a negative total (missing sections) counts as none.
    SendMessageA(bar, PBM_SETRANGE32, 0, progressTotal > 0 ? progressTotal : 0);
    ShowWindow(bar, SW_SHOW);
    SendMessageA(bar, PBM_SETPOS, (WPARAM)progressCount, 0);
    return;
  }
  progressCount = (int32_t)((uint32_t)progressCount + 1u);
  if (!paintingHeld) {
    HoldPainting();
  }
  SendMessageA(bar, PBM_SETPOS, (WPARAM)progressCount, 0);
  if (GetTickCount() - lastFrame >= progressFrameInterval) {
    PaintProgressNow();
    HoldPainting();
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG:
    partsWindow = window;
    for (int i = 0; i < kChangingParts; ++i) {
      changingParts[i] = GetDlgItem(window, changingPartIds[i]);
    }
    paintingHeld = 0;
    SetWindowTextA(window, installState.title);
    installState.cancelRequested = 0;
    EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    break;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDC_CANCEL) {
      PaintProgressNow(); // the question is asked over what is current
      if (ConfirmExit(window)) {
        installState.cancelRequested = 1;
        EndDialog(window, IDC_CANCEL); // hides this modeless window; RunInstall destroys it
      }
    }
    break;
  case WM_CLOSE:
    EndDialog(window, IDC_CANCEL);
    break;
  case WM_SETUP_PROGRESS:
    ApplyProgress(wParam, lParam);
    break;
  case WM_DESTROY:
    paintingHeld = 0; // the parts go with the window; their handles may be reused
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
