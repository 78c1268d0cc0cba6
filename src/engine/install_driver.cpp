#include "install_driver.h"

#include <commctrl.h>

#include "../setup_script/install_state.h"
#include "../setup_script/setup_api.h"
#include "../setup_script/setup_script.h"
#include "../setup_script/text_rules.h"
#include "../shell/system_libraries.h"
#include "../system/registry_steps.h"
#include "../system/shortcuts.h"
#include "../ui/progress_dialog.h"
#include "../ui/resources/resource.h"
#include "../ui/wizard_pages.h"
#include "disk_space.h"
#include "file_copy.h"
#include "install_record.h"

enum { kResultNext = 1, kResultCancel = 2, kResultBack = IDC_BACK };

void SetWaitCursor(void) {
  SetCursor(LoadCursorA(NULL, IDC_WAIT));
}

void SetArrowCursor(void) {
  SetCursor(LoadCursorA(NULL, IDC_ARROW));
}

int ShowFinishedMessage(HWND owner, const char* text, const char* caption, UINT style) {
  MSGBOXPARAMSA params;
  ZeroMemory(&params, sizeof params);
  params.cbSize = sizeof params;
  params.hwndOwner = owner;
  params.hInstance = installState.instance;
  params.lpszText = text;
  params.lpszCaption = caption;
  // Only the button bits are taken: the icon is always the program's own.
  params.dwStyle = (style & 15) | MB_USERICON;
  params.lpszIcon = MAKEINTRESOURCEA(IDI_SETUP);
  return MessageBoxIndirectA(&params);
}

static HWND OpenProgressWindow(HWND hostWindow) {
  // Dialog 108 holds a common-controls progress bar, whose class must exist before it is made.
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
  initCommonControls(&classes);
  installState.progressWindow = CreateDialogParamA(
      installState.instance, MAKEINTRESOURCEA(IDD_PROGRESS), hostWindow, ProgressDialogProc, 0);
  return installState.progressWindow;
}

static void CloseProgressWindow(void) {
  if (installState.progressWindow != NULL) {
    DestroyWindow(installState.progressWindow);
    installState.progressWindow = NULL;
  }
}

static void ShowProgressControl(int id, int show) {
  ShowWindow(GetDlgItem(installState.progressWindow, id), show ? SW_SHOW : SW_HIDE);
}

static void SetProgressTexts(const char* upper, const char* lower) {
  SetDlgItemTextA(installState.progressWindow, IDC_UPPER_TEXT, upper);
  SetDlgItemTextA(installState.progressWindow, IDC_LOWER_TEXT, lower);
}

// The options step: measures free space and every group, then shows the options page when
// there are optional groups. Returns the page's result (Next implied without options).
static int RunOptionsStep(HWND hostWindow) {
  HWND progressBar = NULL;
  if (installState.optionalCount != 0) {
    SetWaitCursor();
    OpenProgressWindow(hostWindow);
    progressBar = GetDlgItem(installState.progressWindow, IDC_PROGRESS_BAR);
    SendMessageA(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, installState.groupCount));
    ShowProgressControl(IDC_CANCEL, 0);
    SetProgressTexts("", "Checking for installed files...");
    ShowWindow(installState.progressWindow, SW_SHOW);
    UpdateWindow(installState.progressWindow);
  }
  MeasureFreeSpace();
  for (int16_t i = 0; i < installState.groupCount; ++i) {
    if (progressBar != NULL) {
      SendMessageA(progressBar, PBM_SETPOS, (WPARAM)i, 0);
    }
    GroupEntry* group = &installState.groups[i];
    EstimateGroupSpace(installState.infHandle, group->sectionName, &group->netSize,
                       &group->grossSize, i);
  }
  if (installState.optionalCount == 0) {
    return kResultNext;
  }
  CloseProgressWindow();
  SetArrowCursor();
  return (int)DialogBoxParamA(installState.instance, MAKEINTRESOURCEA(IDD_OPTIONS), hostWindow,
                              WizardPageProc, 0);
}

static int HasTooLittleSpace(void) {
  return installState.freeSpaceMB < installState.requiredSpaceMB ||
         installState.freeSpaceMB == 0.0f;
}

static void ShowInsufficientSpace(HWND hostWindow) {
  char drive[5]; // two characters
  CopyCharacters(drive, sizeof drive, installState.destinationFolder, 2);
  char text[160];
  FormatText(text, sizeof text,
             "There is insufficient space on Drive %s to install the currently selected options.",
             drive);
  MessageBoxA(hostWindow, text, installState.title, MB_OK | MB_ICONERROR);
}

// Stage 2. Returns 1 when the user went past the options step with enough space, 0 on Cancel.
static int RunWizard(HWND hostWindow) {
  for (;;) {
    int result;
    if (installState.pageIndex == 0) {
      result = (int)DialogBoxParamA(installState.instance, MAKEINTRESOURCEA(IDD_DESTINATION),
                                    hostWindow, WizardPageProc, 0);
    } else {
      result = RunOptionsStep(hostWindow);
      if (result == kResultNext && HasTooLittleSpace()) {
        ShowInsufficientSpace(hostWindow);
        if (installState.optionalCount == 0) {
          installState.pageIndex = 0;
        }
        continue;
      }
    }
    if (result == kResultCancel) {
      return 0;
    }
    if (result == kResultNext) {
      ++installState.pageIndex;
    } else {
      --installState.pageIndex;
    }
    if (installState.pageIndex > 1) {
      return 1;
    }
  }
}

// Stage 3 after the directory id: the copy window, the count of lines and the reset.
static void PrepareCopy(HWND hostWindow) {
  OpenProgressWindow(hostWindow);
  ShowProgressControl(IDC_PROGRESS_BAR, 0);
  ShowProgressControl(IDC_CANCEL, 0);
  SetProgressTexts("", "Preparing files for copying...");
  ShowWindow(installState.progressWindow, SW_SHOW);
  UpdateWindow(installState.progressWindow);

  int32_t total = 0;
  for (int i = 0; i < installState.groupCount; ++i) {
    GroupEntry* group = &installState.groups[i];
    group->lineCount =
        group->selected ? GetSectionLineCount(installState.infHandle, group->sectionName) : 0;
    // Wrapping addition without signed overflow.
    total = (int32_t)((uint32_t)total + (uint32_t)group->lineCount);
  }
  SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, 0, (LPARAM)total);
  ShowProgressControl(IDC_PROGRESS_BAR, 1);
  SetArrowCursor();
  ShowProgressControl(IDC_CANCEL, 1);
}

static void ShowSystemSettingsError(DWORD error) {
  ShowSystemError(installState.progressWindow,
                  "There was an error updating your system settings.\n\n", error, MB_ICONWARNING);
}

int RunInstall(HWND hostWindow) {
  if (!LoadSetupScript(hostWindow)) {
    return 0;
  }
  installState.pageIndex = 0;
  if (!RunWizard(hostWindow)) {
    CloseSetupScript();
    return 0;
  }

  SetWaitCursor();
  if (!SetDestinationDirectoryId(installState.infHandle, installState.destinationFolder)) {
    CloseSetupScript();
    SetArrowCursor();
    return 0;
  }
  PrepareCopy(hostWindow);
  BeginInstallRecord();

  int ok = 1;
  for (int16_t i = 0; i < installState.groupCount && ok; ++i) {
    if (installState.groups[i].lineCount != 0) {
      ok = CopyGroupFiles(installState.infHandle, installState.groups[i].sectionName, i);
      RecordEntry("Groups", installState.groups[i].sectionName);
    }
  }
  CommitInstallRecord(); // what a failed or cancelled copy made is recorded too

  PaintProgressNow(); // the parts paint themselves again before they are hidden or changed
  ShowProgressControl(IDC_PROGRESS_BAR, 0);
  ShowProgressControl(IDC_CANCEL, 0);
  SetProgressTexts("", "Completing installation...");
  if (installState.cancelRequested) {
    ok = 0;
  }
  if (ok) {
    RecordSettings(installState.infHandle, 1);
    ok = InstallDefaultSection(hostWindow, installState.infHandle);
    if (!ok) {
      ShowSystemSettingsError(GetLastError());
    }
    RecordSettings(installState.infHandle, 0);
  }
  CloseSetupScript();

  if (ok) {
    CreateProgramShortcut("Programs");
    CreateProgramShortcut("Desktop");
    ClearCompatibilityLayer();
    ScheduleRunOnce(1);
    CloseProgressWindow();
    SetArrowCursor();
    char text[256];
    FormatText(text, sizeof text, "Setup has finished installing %s on your computer.",
               installState.appName);
    ShowFinishedMessage(hostWindow, text, installState.title, 0);
  } else {
    CloseProgressWindow();
    SetArrowCursor();
    MessageBoxA(hostWindow, "Setup did not complete successfully!", installState.title,
                MB_OK | MB_ICONERROR);
  }
  return 1;
}
