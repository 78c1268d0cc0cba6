#include "progress_dialog.h"

#include <commctrl.h>

#include "../setup_script/install_state.h"
#include "resources/resource.h"

int32_t progressTotal = 0;
int32_t progressCount = 0;

DWORD progressFrameInterval = kProgressFrameFollowsCost;

// Painting a part costs far more than copying a small file, and thousands of files pass in the
// time the eye needs for one picture. So while steps come in, the parts (the two text lines and
// the bar) do not paint on every change but together once per frame. Their own window procedure
// is wrapped for that: a text set only sets the text, and the bar keeps a new position until the
// frame (asked for its position, it answers the new one). The parts stay visible throughout, so
// that every program sees them, and their texts are exact for every reader at every moment.
enum { kBarPart = 2, kChangingParts = 3 };
static const int changingPartIds[kChangingParts] = {IDC_UPPER_TEXT, IDC_LOWER_TEXT,
                                                    IDC_PROGRESS_BAR};
static HWND partsWindow; // the progress window the parts belong to (one at a time)
static HWND changingParts[kChangingParts]; // taken once: a look-up per line would cost a request
static WNDPROC partProcedures[kChangingParts];
static int partChanged[kChangingParts]; // set since the part last painted
static int paintingHeld;
static int barPending;     // the bar has not been given barPosition yet
static WPARAM barPosition; // the position the bar shows from the next frame on
static DWORD lastFrame;    // when the last frame ended
static DWORD frameInterval = kProgressFrameIntervalMin;

static DWORD FrameInterval(void) {
  return progressFrameInterval == kProgressFrameFollowsCost ? frameInterval : progressFrameInterval;
}

static void GiveBarItsPosition(void) {
  barPending = 0;
  CallWindowProcA(partProcedures[kBarPart], changingParts[kBarPart], PBM_SETPOS, barPosition, 0);
}

static LRESULT CALLBACK ChangingPartProc(HWND part, UINT message, WPARAM wParam, LPARAM lParam) {
  int i = 0;
  while (i < kChangingParts && changingParts[i] != part) {
    ++i;
  }
  if (i == kChangingParts) { // a part of a progress window gone before this one was made
    return DefWindowProcA(part, message, wParam, lParam);
  }
  if (i == kBarPart) {
    if (message == PBM_SETPOS && paintingHeld) {
      LRESULT old = barPending ? (LRESULT)barPosition
                               : CallWindowProcA(partProcedures[i], part, PBM_GETPOS, 0, 0);
      PBRANGE range; // kept within the range, as the bar keeps it
      CallWindowProcA(partProcedures[i], part, PBM_GETRANGE, TRUE, (LPARAM)&range);
      int position = (int)wParam;
      barPosition = (WPARAM)(position < range.iLow    ? range.iLow
                             : position > range.iHigh ? range.iHigh
                                                      : position);
      barPending = 1;
      return old;
    }
    if (barPending && message == PBM_GETPOS) {
      return (LRESULT)barPosition;
    }
    // Anything else that reads, changes or paints the bar first gives it its position.
    if (barPending && (message == WM_PAINT || message == WM_PRINTCLIENT ||
                       (message > WM_USER && message < WM_USER + 0x20))) {
      GiveBarItsPosition();
    }
  } else if (message == WM_SETTEXT && paintingHeld) {
    partChanged[i] = 1;
    return DefWindowProcA(part, message, wParam, lParam); // the text alone, not painted
  }
  return CallWindowProcA(partProcedures[i], part, message, wParam, lParam);
}

// Lets what was painted reach the screen now: under Wine a window's painting is shown when its
// thread looks for messages and finds none (or after a while without looking). No message is
// ever posted with this number, so nothing is taken from the queue.
static void ShowPainting(void) {
  MSG message;
  PeekMessageA(&message, partsWindow, WM_SETUP_PROGRESS, WM_SETUP_PROGRESS,
               PM_NOREMOVE | PM_NOYIELD);
}

// Paints what changed since the last frame and shows it; the next frame comes after ten times
// what this one cost, within bounds, so that frames take at most about a tenth of the time.
static void PaintFrame(void) {
  DWORD start = GetTickCount();
  if (barPending) {
    GiveBarItsPosition(); // the bar paints the change itself
  }
  for (int i = 0; i < kChangingParts; ++i) {
    if (partChanged[i]) {
      partChanged[i] = 0;
      RedrawWindow(changingParts[i], NULL, NULL, RDW_INVALIDATE | RDW_ERASE);
    }
  }
  // The window first, should it have been uncovered meanwhile: its background would otherwise
  // be painted over the parts.
  RedrawWindow(partsWindow, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
  ShowPainting();
  lastFrame = GetTickCount();
  DWORD interval = 10 * (lastFrame - start);
  if (interval < kProgressFrameIntervalMin) {
    interval = kProgressFrameIntervalMin;
  } else if (interval > kProgressFrameIntervalMax) {
    interval = kProgressFrameIntervalMax;
  }
  frameInterval = interval;
}

static int FrameDueWithin(DWORD milliseconds) {
  return (uint64_t)(GetTickCount() - lastFrame) + milliseconds >= FrameInterval();
}

void PaintProgressNow(void) {
  if (paintingHeld) {
    paintingHeld = 0;
    PaintFrame();
  }
}

void PaintProgressBefore(DWORD expectedMs) {
  if (paintingHeld && FrameDueWithin(expectedMs)) {
    PaintFrame();
  }
}

void SetProgressText(int id, const char* text) {
  SetWindowTextA(changingParts[id == IDC_UPPER_TEXT ? 0 : 1], text);
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
  paintingHeld = 1;
  SendMessageA(bar, PBM_SETPOS, (WPARAM)progressCount, 0);
  if (FrameDueWithin(0)) {
    PaintFrame();
  }
}

static void TakeChangingParts(HWND window) {
  partsWindow = window;
  paintingHeld = 0;
  barPending = 0;
  for (int i = 0; i < kChangingParts; ++i) {
    partChanged[i] = 0;
    changingParts[i] = GetDlgItem(window, changingPartIds[i]);
    partProcedures[i] =
        (WNDPROC)SetWindowLongPtrA(changingParts[i], GWLP_WNDPROC, (LONG_PTR)ChangingPartProc);
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG:
    TakeChangingParts(window);
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
    paintingHeld = 0; // the parts go with the window
    barPending = 0;
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
