#include "folder_browser.h"

#include <shlobj.h>

#include "../setup_script/install_state.h"
#include "../setup_script/text_rules.h"

enum { kBrowseTextSize = 256, kMessageSize = 512 };

void BrowseForDestination(HWND owner) {
  installState.typedFolder[0] = '\0';
  char displayName[MAX_PATH]; // the browser writes up to MAX_PATH bytes into it
  BROWSEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.hwndOwner = owner;
  info.pszDisplayName = displayName;
  info.lpszTitle = "Please choose the folder for installation.";
  info.ulFlags = BIF_EDITBOX | BIF_VALIDATE;
  info.lpfn = BrowseCallback;
  LPITEMIDLIST item = SHBrowseForFolderA(&info);
  if (item == NULL && installState.typedFolder[0] == '\0') {
    return; // cancelled or closed
  }
  char picked[kBrowseTextSize] = "";
  if (item != NULL) {
    // SHGetPathFromIDListA writes up to MAX_PATH bytes; a longer path than we keep is ignored.
    displayName[0] = '\0';
    SHGetPathFromIDListA(item, displayName);
    if (!CopyText(picked, sizeof picked, displayName)) {
      picked[0] = '\0';
    }
    IMalloc* allocator = NULL;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != NULL) {
      allocator->Free(item);
      allocator->Release();
    }
  }
  const char* choice = installState.typedFolder[0] != '\0' ? installState.typedFolder : picked;
  if (CountCharacters(choice) < 3) {
    return;
  }
  CopyText(installState.destinationFolder, MAX_PATH, choice);
}

static int ShowBrowserMessage(HWND browser, const char* text, UINT style) {
  return MessageBoxA(browser, text, "Setup", style);
}

// A typed path the browser could not resolve: checked, and created on request. Returns 0 to
// close the browser, 1 to keep it open.
static int ValidateTypedFolder(HWND browser, const char* typedText) {
  char typed[kBrowseTextSize];
  char message[kMessageSize];
  // A text longer than we keep is refused like a name without a drive, never cut.
  int fits = CopyText(typed, sizeof typed, typedText);
  size_t drive = fits ? DrivePrefixLength(typed) : 0;
  if (drive == 0) {
    FormatText(message, sizeof message,
               "The specified folder name '%s' is invalid.\n\nPlease type a full path with drive "
               "letter; for example 'C:\\%s'.",
               typed, installState.appName);
    ShowBrowserMessage(browser, message, MB_OK | MB_ICONWARNING);
    return 1;
  }
  RemoveTrailingSeparator(typed);
  FormatText(message, sizeof message,
             "The folder '%s' does not exist.\n\nDo you want the folder to be created?", typed);
  if (ShowBrowserMessage(browser, message, MB_YESNO | MB_ICONQUESTION) == IDNO) {
    return 1;
  }
  size_t length = TextLength(typed); // the drive form's separator may have been removed
  char parent[kBrowseTextSize];
  for (size_t i = drive; i < length; i += CharacterSize(typed + i)) {
    if (typed[i] == '\\') {
      CopyText(parent, i + 1, typed);
      CreateDirectoryA(parent, NULL); // parents that exist are passed over
    }
  }
  if (CreateDirectoryA(typed, NULL)) {
    CopyText(installState.typedFolder, sizeof installState.typedFolder, typed);
    return 0;
  }
  FormatText(message, sizeof message, "The specified folder '%s' could not be created.", typed);
  ShowBrowserMessage(browser, message, MB_OK | MB_ICONWARNING);
  return 1;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM parameter, LPARAM) {
  switch (message) {
  case BFFM_INITIALIZED:
    SetWindowTextA(browser, "Choose Folder");
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM)installState.destinationFolder);
    return 0;
  case BFFM_VALIDATEFAILEDA:
    return ValidateTypedFolder(browser, (const char*)parameter);
  }
  return 0;
}
