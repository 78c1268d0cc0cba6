// The demo's helper, run under Wine by scripts/demo.sh:
//   demo_driver drive <setup.exe> <folder>  runs the typical install from outside, saving
//                                           pictures of each step into folder (BMP)
//   demo_driver list                        lists what the demo installed
//   demo_driver remove <folder>             removes it with its uninstall.exe from outside,
//                                           saving pictures of the two messages into folder
//   demo_driver remains <destination>       lists what is left of it, once the removal ended
//   demo_driver forget                      removes an earlier demo install
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "robot/process_robot.h"
#include "robot/ui_robot.h"
#include "support/test_support.h"
#include "ui/resources/resource.h"

namespace {

const char kAppKey[] = "Software\\Kelvara\\Demo";
const char kLinkName[] = "Kelvara Demo.lnk";
const char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvara Demo";

// ---- Pictures -------------------------------------------------------------------------------

struct Picture {
  int width = 0, height = 0;
  std::vector<BYTE> pixels; // 24-bit rows, bottom-up, each padded to 4 bytes
  bool operator==(const Picture& other) const {
    return width == other.width && height == other.height && pixels == other.pixels;
  }
};

// What the screen shows in a rectangle (screen coordinates).
Picture Capture(const RECT& area) {
  Picture picture;
  picture.width = area.right - area.left;
  picture.height = area.bottom - area.top;
  if (picture.width <= 0 || picture.height <= 0) {
    return picture;
  }
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, picture.width, picture.height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, picture.width, picture.height, screen, area.left, area.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  picture.pixels.resize((size_t)((picture.width * 3 + 3) & ~3) * picture.height);
  GetDIBits(memory, bitmap, 0, picture.height, picture.pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
  return picture;
}

RECT WindowArea(HWND window) {
  RECT area = {};
  GetWindowRect(window, &area);
  return area;
}

// True once the control's text is drawn: its area holds more than one colour.
bool TextDrawn(HWND window, int id) {
  Picture picture = Capture(WindowArea(GetDlgItem(window, id)));
  for (size_t i = 3; i + 2 < picture.pixels.size(); i += 3) {
    if (memcmp(&picture.pixels[i], &picture.pixels[0], 3) != 0) {
      return true;
    }
  }
  return false;
}

bool SaveBitmap(const Picture& picture, const std::string& path) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = picture.width;
  header.biHeight = picture.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42; // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + (DWORD)picture.pixels.size();
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, NULL) &&
            WriteFile(out, &header, sizeof header, &written, NULL) &&
            WriteFile(out, picture.pixels.data(), (DWORD)picture.pixels.size(), &written, NULL);
  CloseHandle(out);
  return ok;
}

// Saves the window once it is fully painted: its text control drawn and two looks alike.
bool SaveWhenPainted(HWND window, int textId, const std::string& path) {
  Picture last;
  bool painted = WaitUntil(
      [&] {
        Picture now = Capture(WindowArea(window));
        bool steady = TextDrawn(window, textId) && now == last;
        last = now;
        return steady;
      },
      20000);
  return painted && SaveBitmap(last, path);
}

HWND FindProgressWindow(const SetupProcess& setup) {
  for (HWND window = NULL; (window = FindWindowExA(NULL, window, "#32770", NULL)) != NULL;) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == setup.ProcessId() && IsWindowVisible(window) &&
        GetDlgItem(window, IDC_PROGRESS_BAR) != NULL) {
      return window;
    }
  }
  return NULL;
}

// Under Wine what the progress window draws reaches the screen only when its program next waits
// for messages (a picture taken while the copy runs shows what was there before). So Cancel is
// clicked while the copy runs: the exit question's message loop then holds the copy with the
// window drawn. The question is moved aside, the window's picture taken, and "Resume" lets the
// copy go on. Where the host lets us watch a file, the copy is held at the program file's read
// until the click waits in the queue, so that a fast machine cannot end the copy first; elsewhere
// Cancel is clicked the moment the window is seen.
bool TakeProgressPicture(SetupProcess& setup, const ReadHold& hold, const std::string& path) {
  HWND progress = NULL;
  if (hold.Problem().empty()) {
    if (hold.WaitHeld(120000)) {
      progress = setup.WaitForWindow(IsProgressWindow, 10000);
    }
    if (progress != NULL) {
      setup.Click(progress, IDC_CANCEL);
    }
    hold.Release();
  } else {
    const DWORD start = GetTickCount();
    while (progress == NULL && !setup.WaitForExit(0, NULL) && GetTickCount() - start < 60000) {
      if ((progress = FindProgressWindow(setup)) != NULL) {
        setup.Click(progress, IDC_CANCEL);
      }
      Sleep(1); // a short polling interval: the window is up for a few milliseconds only
    }
  }
  HWND question = progress != NULL ? setup.WaitForWindow(IsExitQuestion, 10000) : NULL;
  if (question == NULL) {
    printf("the copy ended before its progress window could be held\n");
    return false;
  }
  RECT area = WindowArea(question);
  SetWindowPos(question, NULL, GetSystemMetrics(SM_CXSCREEN) - (area.right - area.left) - 8, 8, 0,
               0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  bool saved = SaveWhenPainted(progress, IDC_LOWER_TEXT, path);
  setup.Click(question, IDC_CANCEL); // Resume
  return saved;
}

int Drive(const std::string& setupExe, const std::string& folder) {
  SetupProcess setup;
  if (!setup.Start(setupExe)) {
    printf("cannot start %s\n", setupExe.c_str());
    return 1;
  }
  const struct {
    const char* name;
    WindowMatcher matcher;
    int textId;
  } pages[] = {{"destination", IsDestinationPage, IDC_INTRODUCTION},
               {"options", IsOptionsPage, IDC_OPTION1}};
  const std::string distribution = setupExe.substr(0, setupExe.find_last_of('\\'));
  ReadHold hold(distribution + "\\KDemo.exe", 1, ReadHold::kHold);
  for (const auto& page : pages) {
    HWND window = setup.WaitForWindow(page.matcher);
    if (window == NULL ||
        !SaveWhenPainted(window, page.textId, folder + "\\" + page.name + ".bmp")) {
      printf("no picture of the %s page:\n%s", page.name, setup.Describe().c_str());
      return 1;
    }
    if (std::string(page.name) == "options" && hold.Problem().empty()) {
      hold.Arm(); // the sources were measured; the next read of the file is the copy's
    }
    setup.Click(window, IDC_NEXT);
  }
  int status = TakeProgressPicture(setup, hold, folder + "\\progress.bmp") ? 0 : 1;
  // The final message, and any other message box on the way, answered with OK.
  for (int boxes = 0;; ++boxes) {
    HWND box = NULL;
    bool ended = false;
    WaitUntil(
        [&] {
          ended = setup.WaitForExit(0, NULL);
          box = ended ? NULL : setup.WaitForWindow(IsMessageBox, 0);
          return ended || box != NULL;
        },
        120000);
    if (ended && boxes > 0) {
      break;
    }
    if (box == NULL) {
      printf("no final message:\n%s", setup.Describe().c_str());
      return 1;
    }
    std::string text = setup.Snapshot(box).MessageText();
    printf("message: %s\n", text.c_str());
    if (boxes == 0 && !SaveWhenPainted(box, 0xFFFF, folder + "\\finished.bmp")) {
      status = 1;
    }
    if (text.find("Setup has finished") != 0) {
      status = 1;
    }
    setup.Click(box, IDOK);
    setup.WaitForWindowGone(box);
  }
  DWORD exitCode = 0;
  if (!setup.WaitForExit(60000, &exitCode)) {
    printf("setup.exe did not end\n");
    return 1;
  }
  return status;
}

// ---- What was installed ---------------------------------------------------------------------

std::string ReadString(HKEY root, const char* path, const char* name) {
  char value[1024] = "";
  DWORD size = sizeof value - 1;
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return "";
  }
  if (RegQueryValueExA(key, name, NULL, NULL, (BYTE*)value, &size) != ERROR_SUCCESS) {
    value[0] = '\0';
  }
  RegCloseKey(key);
  return value;
}

void ListFiles(const std::string& folder, const std::string& relative) {
  ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
    const std::string name = entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + "\\" + name, relative + name + "\\");
    } else {
      printf("  %-28s %lu bytes\n", (relative + name).c_str(), entry.nFileSizeLow);
    }
  });
}

void ListValues(HKEY root, const char* rootName, const char* path) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    printf("  %s\\%s: (none)\n", rootName, path);
    return;
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    BYTE data[1024];
    DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, NULL, &type, data, &dataSize) != ERROR_SUCCESS) {
      break;
    }
    data[dataSize] = '\0';
    if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
      DWORD number;
      memcpy(&number, data, sizeof number);
      printf("  %s\\%s: %s = %lu (REG_DWORD)\n", rootName, path, name, (unsigned long)number);
    } else {
      printf("  %s\\%s: %s = \"%s\"\n", rootName, path, name, type == REG_SZ ? (char*)data : "?");
    }
  }
  RegCloseKey(key);
}

void ShowLink(const std::string& file) {
  IShellLinkA* link = NULL;
  IPersistFile* persist = NULL;
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 (void**)&link)) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&persist)) &&
      SUCCEEDED(persist->Load(wide, STGM_READ))) {
    char target[MAX_PATH] = "", directory[MAX_PATH] = "";
    link->GetPath(target, MAX_PATH, NULL, SLGP_RAWPATH);
    link->GetWorkingDirectory(directory, MAX_PATH);
    printf("  %s\n    -> %s (in %s)\n", file.c_str(), target, directory);
  } else {
    printf("  %s: (none)\n", file.c_str());
  }
  if (persist != NULL) {
    persist->Release();
  }
  if (link != NULL) {
    link->Release();
  }
}

std::string LinkIn(const char* shellFolder) {
  return ReadString(HKEY_CURRENT_USER, kShellFolders, shellFolder) + "\\" + kLinkName;
}

int List() {
  std::string destination = ReadString(HKEY_CURRENT_USER, kAppKey, "InstallDir");
  if (destination.empty()) {
    printf("Kelvara Demo is not installed (no HKCU\\%s InstallDir).\n", kAppKey);
    return 1;
  }
  printf("Files in %s:\n", destination.c_str());
  ListFiles(destination, "");
  printf("Registry values:\n");
  ListValues(HKEY_CURRENT_USER, "HKCU", kAppKey);
  ListValues(HKEY_LOCAL_MACHINE, "HKLM", kAppKey);
  ListValues(HKEY_LOCAL_MACHINE, "HKLM", kUninstallKey);
  ListValues(HKEY_LOCAL_MACHINE, "HKLM", kRunOnce);
  printf("INI entries in %s\\kdemo.ini:\n", destination.c_str());
  char ini[1024] = "";
  GetPrivateProfileSectionA("Settings", ini, sizeof ini, (destination + "\\kdemo.ini").c_str());
  for (const char* entry = ini; *entry != '\0'; entry += strlen(entry) + 1) {
    printf("  [Settings] %s\n", entry);
  }
  printf("Links:\n");
  CoInitialize(NULL);
  ShowLink(LinkIn("Programs"));
  ShowLink(LinkIn("Desktop"));
  CoUninitialize();
  return 0;
}

// Yes to the question, then OK to the closing message of the copy that does the removal.
int Remove(const std::string& folder) {
  std::string destination = ReadString(HKEY_CURRENT_USER, kAppKey, "InstallDir");
  SetupProcess first;
  if (destination.empty() || !first.Start(destination + "\\uninstall.exe")) {
    printf("no uninstall.exe of an installed Kelvara Demo to start\n");
    return 1;
  }
  SetupProcess copy;
  HWND question = first.WaitForWindow(IsMessageBox);
  if (question == NULL || !SaveWhenPainted(question, 0xFFFF, folder + "\\remove-question.bmp")) {
    printf("no question:\n%s", first.Describe().c_str());
    return 1;
  }
  printf("question: %s\n", first.Snapshot(question).MessageText().c_str());
  first.Click(question, IDYES);
  HWND closing =
      first.WaitForExit(60000, NULL) && copy.FollowChildOf(first.ProcessId(), "kvs-uninstall-")
          ? copy.WaitForWindow(IsMessageBox)
          : NULL;
  if (closing == NULL || !SaveWhenPainted(closing, 0xFFFF, folder + "\\remove-finished.bmp")) {
    printf("no closing message\n");
    return 1;
  }
  printf("message: %s\n", copy.Snapshot(closing).MessageText().c_str());
  copy.Click(closing, IDOK);
  return copy.WaitForExit(60000, NULL) ? 0 : 1;
}

// What is left: files in the installed folder, the registry values, the links. The removal's
// copy in the temporary folder is gone once it has ended.
int Remains(const std::string& destination) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  if (!WaitUntil([&] { return EntryNames(temp).find("kvs-uninstall-") == std::string::npos; },
                 600000)) {
    printf("the removal has not ended\n");
    return 1;
  }
  if (FolderExists(destination)) {
    printf("Files in %s:\n", destination.c_str());
    ListFiles(destination, "");
  } else {
    printf("%s: (gone)\n", destination.c_str());
  }
  printf("Registry values:\n");
  ListValues(HKEY_CURRENT_USER, "HKCU", kAppKey);
  ListValues(HKEY_LOCAL_MACHINE, "HKLM", kAppKey);
  ListValues(HKEY_LOCAL_MACHINE, "HKLM", kUninstallKey);
  printf("Links:\n");
  CoInitialize(NULL);
  ShowLink(LinkIn("Programs"));
  ShowLink(LinkIn("Desktop"));
  CoUninitialize();
  printf("Left in the temporary folder by the removal: %s\n",
         EntryNames(temp).find("kvs-uninstall-") == std::string::npos ? "nothing" : "a copy");
  return 0;
}

int Forget() {
  std::string destination = ReadString(HKEY_CURRENT_USER, kAppKey, "InstallDir");
  if (!destination.empty()) {
    DeleteTree(destination);
  }
  DeleteFileA(LinkIn("Programs").c_str());
  DeleteFileA(LinkIn("Desktop").c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    RegDeleteKeyA(root, kAppKey);
    RegDeleteKeyA(root, "Software\\Kelvara");
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "drive" && argc == 4) {
    return Drive(argv[2], argv[3]);
  }
  if (mode == "list") {
    return List();
  }
  if (mode == "remove" && argc == 3) {
    return Remove(argv[2]);
  }
  if (mode == "remains" && argc == 3) {
    return Remains(argv[2]);
  }
  if (mode == "forget") {
    return Forget();
  }
  printf("usage: demo_driver drive <setup.exe> <folder> | list | remove <folder> | remains "
         "<destination> | forget\n");
  return 2;
}
