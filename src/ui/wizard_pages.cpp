#include "wizard_pages.h"

#include "../engine/disk_space.h"
#include "../setup_script/install_state.h"
#include "../setup_script/text_rules.h"
#include "folder_browser.h"
#include "progress_dialog.h"
#include "resources/resource.h"

static void InitDestinationPage(HWND page) {
  char introduction[1000];
  FormatText(introduction, sizeof introduction,
             "Setup will install %s in the following folder.\n\nTo install to this folder, click "
             "Next.\n\nTo install to a different folder, click Browse and select another "
             "folder.\n\nYou can choose not to install %s by clicking Cancel to exit Setup.",
             installState.appName, installState.appName);
  SetDlgItemTextA(page, IDC_INTRODUCTION, introduction);
  SetDlgItemTextA(page, IDC_FOLDER_LABEL, installState.destinationFolder);
  EnableWindow(GetDlgItem(page, IDC_BACK), FALSE);
}

static void ShowOption(HWND page, int checkBoxId, int16_t groupIndex) {
  const GroupEntry* group = &installState.groups[groupIndex];
  SetDlgItemTextA(page, checkBoxId, group->optionText);
  SendDlgItemMessageA(page, checkBoxId, BM_SETCHECK, (WPARAM)group->selected, 0);
}

static void InitOptionsPage(HWND page) {
  ShowOption(page, IDC_OPTION1, installState.optionalGroups[0]);
  if (installState.optionalCount == 1) {
    ShowWindow(GetDlgItem(page, IDC_OPTION2), SW_HIDE);
    ShowWindow(GetDlgItem(page, IDC_OPTION2_SIZE), SW_HIDE);
  } else {
    ShowOption(page, IDC_OPTION2, installState.optionalGroups[1]);
  }
  char available[80];
  FormatFreeSpaceText(available, sizeof available, installState.freeSpaceMB);
  SetDlgItemTextA(page, IDC_AVAILABLE_VALUE, available);
  UpdateSpaceLabels(page);
}

static void TakeCheckBox(HWND page, int checkBoxId, int16_t groupIndex) {
  if (installState.pageIndex != 1) {
    return;
  }
  installState.groups[groupIndex].selected =
      SendDlgItemMessageA(page, checkBoxId, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  UpdateSpaceLabels(page);
}

INT_PTR CALLBACK WizardPageProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
  case WM_INITDIALOG:
    SetWindowTextA(window, installState.title);
    if (installState.pageIndex == 0) {
      InitDestinationPage(window);
    } else if (installState.pageIndex == 1) {
      InitOptionsPage(window);
    }
    break;
  case WM_COMMAND:
    switch (LOWORD(wParam)) {
    case IDC_OPTION1:
      TakeCheckBox(window, IDC_OPTION1, installState.optionalGroups[0]);
      break;
    case IDC_OPTION2:
      TakeCheckBox(window, IDC_OPTION2, installState.optionalGroups[1]);
      break;
    case IDC_BACK:
      EndDialog(window, IDC_BACK);
      break;
    case IDC_NEXT:
      EndDialog(window, IDC_NEXT);
      break;
    case IDC_CANCEL:
      if (ConfirmExit(window)) {
        EndDialog(window, IDC_CANCEL);
      }
      break;
    case IDC_BROWSE:
      BrowseForDestination(window);
      SetDlgItemTextA(window, IDC_FOLDER_LABEL, installState.destinationFolder);
      break;
    }
    break;
  case WM_CLOSE:
    if (ConfirmExit(window)) {
      EndDialog(window, IDC_CANCEL);
      break;
    }
    // Declined: stop the dialog manager turning the close into a Cancel, which would ask again.
    return TRUE;
  }
  return FALSE;
}
