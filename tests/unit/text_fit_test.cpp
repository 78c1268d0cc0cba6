// Every text of every dialog of setup.exe fits its control, unwrapped and uncut, in the dialog
// font at the usual display densities, and no control covers another or leaves its dialog. Wine
// takes the density from the registry when a process starts, so each density is measured by this
// test program run again as a child.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "robot/process_robot.h"
#include "support/test_support.h"

namespace {

const char kFontsKey[] = "System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts";
const char kDesktopKey[] = "Control Panel\\Desktop";

void SetDword(HKEY root, const char* path, DWORD value) {
  HKEY key;
  if (RegCreateKeyExA(root, path, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) == ERROR_SUCCESS) {
    RegSetValueExA(key, "LogPixels", 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    RegCloseKey(key);
  }
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

// One line per text: where it is, what it needs and what it has; misfits start with "misfit".
std::string Measure(int dialog, HWND control) {
  char className[32] = "", text[1024] = "";
  GetClassNameA(control, className, sizeof className);
  GetWindowTextA(control, text, sizeof text);
  const LONG style = GetWindowLongA(control, GWL_STYLE);
  const bool isStatic = lstrcmpA(className, "Static") == 0;
  const bool isButton = lstrcmpA(className, "Button") == 0;
  if (text[0] == '\0' || !(isStatic || isButton) ||
      (isStatic && (style & SS_TYPEMASK) > SS_RIGHT && (style & SS_TYPEMASK) != SS_SIMPLE &&
       (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP)) {
    return "";
  }
  RECT client;
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageA(control, WM_GETFONT, 0, 0));
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  int available = client.right;
  const LONG type = style & BS_TYPEMASK;
  if (isButton && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)) {
    available -= 2 * GetSystemMetrics(SM_CXEDGE);
  } else if (isButton && type != BS_GROUPBOX) {
    // The box and its gap as the button draws them: 12 px at 96 DPI and one more, then half a
    // digit.
    INT digit = 0;
    GetCharWidthA(dc, '0', '0', &digit);
    available -= MulDiv(12, GetDeviceCaps(dc, LOGPIXELSY), 96) + 1 + digit / 2;
  }
  const bool multiLine =
      isStatic && (strchr(text, '\n') != nullptr || client.bottom >= 2 * metrics.tmHeight);
  UINT format = DT_CALCRECT | DT_EXPANDTABS | (multiLine ? DT_WORDBREAK : DT_SINGLELINE);
  if (isStatic && (style & SS_NOPREFIX)) {
    format |= DT_NOPREFIX;
  }
  RECT needed = {0, 0, multiLine ? available : 0, 0};
  DrawTextA(dc, text, -1, &needed, format);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  const bool fits = needed.right <= available && needed.bottom <= client.bottom;
  std::string shown;
  for (const char* c = text; *c != '\0'; ++c) {
    shown += *c == '\n' ? std::string("\\n") : std::string(1, *c);
  }
  char line[1400];
  snprintf(line, sizeof line, "%s dialog %d control %d \"%s\": needs %ldx%ld px, has %dx%ld\n",
           fits ? "fits" : "misfit", dialog, (short)GetDlgCtrlID(control), shown.c_str(),
           needed.right, needed.bottom, available, client.bottom);
  return line;
}

// Controls stay inside the dialog and clear of one another; a group box holds others by design.
std::string Crowding(int dialog, HWND window) {
  RECT inside, r, common;
  GetClientRect(window, &inside);
  std::vector<std::pair<int, RECT>> placed;
  std::string lines;
  for (HWND c = GetWindow(window, GW_CHILD); c != NULL; c = GetWindow(c, GW_HWNDNEXT)) {
    char className[32] = "";
    GetClassNameA(c, className, sizeof className);
    if (lstrcmpA(className, "Button") == 0 &&
        (GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) {
      continue;
    }
    GetWindowRect(c, &r);
    MapWindowPoints(NULL, window, (POINT*)&r, 2);
    const std::string where = "misfit dialog " + std::to_string(dialog) + " control " +
                              std::to_string((short)GetDlgCtrlID(c));
    if (!IntersectRect(&common, &r, &inside) || !EqualRect(&common, &r)) {
      lines += where + " reaches out of the dialog\n";
    }
    for (const auto& other : placed) {
      if (IntersectRect(&common, &r, &other.second)) {
        lines += where + " overlaps control " + std::to_string(other.first) + "\n";
      }
    }
    placed.push_back({(short)GetDlgCtrlID(c), r});
  }
  return lines;
}

struct Survey {
  HMODULE setup;
  std::string lines;
};

BOOL CALLBACK MeasureDialog(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
  Survey* survey = (Survey*)param;
  const int id = (int)(UINT_PTR)name;
  HRSRC found = FindResourceA(survey->setup, name, (LPCSTR)RT_DIALOG);
  const void* dialogTemplate = found ? LockResource(LoadResource(survey->setup, found)) : nullptr;
  // The test program carries the same resources, so the icon controls find their icon.
  HWND dialog = dialogTemplate ? CreateDialogIndirectParamA(GetModuleHandleA(NULL),
                                                            (LPCDLGTEMPLATEA)dialogTemplate, NULL,
                                                            QuietDialog, 0)
                               : NULL;
  if (dialog == NULL) {
    survey->lines += "misfit dialog " + std::to_string(id) + " could not be made\n";
    return TRUE;
  }
  for (HWND c = GetWindow(dialog, GW_CHILD); c != NULL; c = GetWindow(c, GW_HWNDNEXT)) {
    survey->lines += Measure(id, c);
  }
  survey->lines += Crowding(id, dialog);
  DestroyWindow(dialog);
  return TRUE;
}

// The child: KVS_TEXT_FIT holds the density it must run at and the file for its lines.
TEST(DialogTexts, DISABLED_MeasureEveryDialog) {
  char settings[MAX_PATH + 16] = "", out[MAX_PATH] = "";
  int dpi = 0;
  GetEnvironmentVariableA("KVS_TEXT_FIT", settings, sizeof settings);
  ASSERT_EQ(2, sscanf(settings, "%d|%259[^|]", &dpi, out));
  // Looked up: the headers are set for older systems than the one that brought it.
  typedef BOOL(WINAPI * DpiAware)(void);
  DpiAware setDpiAware =
      (DpiAware)(void*)GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware");
  ASSERT_NE(nullptr, setDpiAware);
  setDpiAware();
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  HDC screen = GetDC(NULL);
  const int density = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(NULL, screen);
  Survey survey = {LoadLibraryExA(SetupExePath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE), ""};
  ASSERT_NE(nullptr, survey.setup) << SetupExePath();
  EnumResourceNamesA(survey.setup, (LPCSTR)RT_DIALOG, MeasureDialog, (LONG_PTR)&survey);
  FreeLibrary(survey.setup);
  if (density != dpi) {
    survey.lines = "misfit: the screen has " + std::to_string(density) + " DPI\n" + survey.lines;
  }
  WriteTextFile(out, survey.lines);
}

TEST(DialogTexts, FitTheirControlsAt96And144Dpi) {
  char self[MAX_PATH] = "";
  GetModuleFileNameA(NULL, self, MAX_PATH);
  TempFolder folder("fit");
  for (DWORD dpi : {96, 144}) {
    SavedRegistryValue machine(HKEY_LOCAL_MACHINE, kFontsKey, "LogPixels");
    SavedRegistryValue user(HKEY_CURRENT_USER, kDesktopKey, "LogPixels");
    SetDword(HKEY_LOCAL_MACHINE, kFontsKey, dpi);
    SetDword(HKEY_CURRENT_USER, kDesktopKey, dpi);
    const std::string out = folder / ("dpi" + std::to_string(dpi) + ".txt");
    SetEnvironmentVariableA("KVS_TEXT_FIT", (std::to_string(dpi) + "|" + out).c_str());
    SetEnvironmentVariableA("GTEST_FILTER", "DialogTexts.DISABLED_MeasureEveryDialog");
    SetEnvironmentVariableA("GTEST_ALSO_RUN_DISABLED_TESTS", "1");
    SetupProcess child;
    const bool started = child.Start(self);
    for (const char* name : {"KVS_TEXT_FIT", "GTEST_FILTER", "GTEST_ALSO_RUN_DISABLED_TESTS"}) {
      SetEnvironmentVariableA(name, NULL);
    }
    DWORD code = 1;
    ASSERT_TRUE(started && child.WaitForExit(120000, &code)) << dpi << " DPI";
    EXPECT_EQ(0u, code) << dpi << " DPI";
    const std::string lines = ReadTextFile(out);
    printf("%lu DPI:\n%s", dpi, lines.c_str());
    std::string misfits;
    for (size_t at = lines.find("misfit"); at != std::string::npos;
         at = lines.find("misfit", at + 1)) {
      misfits += lines.substr(at, lines.find('\n', at) + 1 - at);
    }
    EXPECT_EQ("", misfits) << dpi << " DPI";
    EXPECT_NE(std::string::npos, lines.find("dialog")) << "nothing measured at " << dpi << " DPI";
  }
}

} // namespace
