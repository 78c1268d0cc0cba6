// Splits the cost of setup.exe's copy of one group into its parts, in-process with the real
// copy engine and progress window: the walk of the INF lines, the progress window's work per
// line (text, step, pump: paced as in a copy, with no frame at all, and with a frame on every
// line), and the whole CopyGroupFiles.
//   copy_profile <distribution folder> <destination folder> <section> [hidden]
// With "hidden" the progress window is never shown, so nothing is painted. The paced window
// loop and the copy are marked with OutputDebugStringA ("window-begin", "window-end",
// "copy-begin", "copy-end"), so that bench/server_requests.py can count the wineserver requests
// of each per line in a WINEDEBUG=+server,+debugstr trace.
#include <windows.h>

#include <commctrl.h>
#include <stdio.h>

#include "engine/file_copy.h"
#include "setup_script/install_state.h"
#include "setup_script/setup_api.h"
#include "setup_script/text_rules.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource.h"

static LARGE_INTEGER frequency;
static double Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart / (double)frequency.QuadPart;
}

// What the copy loop asks of the progress window per line, without the files: the pump, the
// lower text line and the step. Returns the seconds taken.
static double WindowLoop(int lines) {
  char line[kLineSize];
  double start = Now();
  SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, 0, lines);
  for (int i = 0; i < lines; ++i) {
    MSG message;
    while (PeekMessageA(&message, installState.progressWindow, 0, 0, PM_REMOVE | PM_NOYIELD)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    FormatText(line, sizeof line, "d%d\\f%d.bin", i / 50, i);
    SetProgressText(IDC_LOWER_TEXT, line);
    SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, 1, 0);
  }
  PaintProgressNow();
  return Now() - start;
}

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: copy_profile <distribution folder> <destination> <section>\n");
    return 2;
  }
  QueryPerformanceFrequency(&frequency);
  installState.instance = GetModuleHandleA(NULL);
  FormatText(installState.moduleFolder, MAX_PATH, "%s\\", argv[1]);
  FormatText(installState.setupFilePath, MAX_PATH, "%sSETUP.DAT", installState.moduleFolder);
  CopyText(installState.destinationFolder, MAX_PATH, argv[2]);
  CopyText(installState.groups[0].description, kValueSize, "Copying files...");
  if (!LoadSetupApi()) {
    return 1;
  }
  installState.infHandle = OpenSetupFile(installState.setupFilePath);
  if (installState.infHandle == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "cannot open %s\n", installState.setupFilePath);
    return 1;
  }
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  installState.progressWindow = CreateDialogParamA(
      installState.instance, MAKEINTRESOURCEA(IDD_PROGRESS), NULL, ProgressDialogProc, 0);
  if (argc == 4) {
    ShowWindow(installState.progressWindow, SW_SHOW);
    UpdateWindow(installState.progressWindow);
  }
  int32_t lines = GetSectionLineCount(installState.infHandle, argv[3]);

  double t0 = Now();
  INFCONTEXT context;
  char line[kLineSize];
  int walked = 0;
  if (FindFirstLine(installState.infHandle, argv[3], &context)) {
    do {
      walked += GetLineText(&context, line);
    } while (FindNextLine(&context));
  }
  double t1 = Now();
  OutputDebugStringA("window-begin\n");
  double window = WindowLoop(lines);
  OutputDebugStringA("window-end\n");
  double t2 = Now();
  for (int i = 0; i < lines; ++i) {
    FormatText(line, sizeof line, "d%d\\f%d.bin", i / 50, i);
    SetProgressText(IDC_LOWER_TEXT, line);
  }
  double ta = Now();
  SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, 0, lines);
  for (int i = 0; i < lines; ++i) {
    SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, 1, 0);
  }
  double tb = Now();
  printf("texts=%.3f steps=%.3f\n", ta - t2, tb - ta);
  // A line with no frame, then a line that ends one, on a few hundred lines.
  int sample = lines < 500 ? lines : 500;
  progressFrameInterval = INFINITE;
  double held = WindowLoop(sample);
  progressFrameInterval = 0;
  double framed = WindowLoop(sample);
  progressFrameInterval = kProgressFrameFollowsCost;
  printf("line_ms=%.3f frame_ms=%.3f\n", held * 1000 / sample, (framed - held) * 1000 / sample);
  t2 = Now();
  SendMessageA(installState.progressWindow, WM_SETUP_PROGRESS, 0, lines);
  OutputDebugStringA("copy-begin\n");
  int ok = CopyGroupFiles(installState.infHandle, argv[3], 0);
  OutputDebugStringA("copy-end\n");
  double t3 = Now();
  printf("lines=%d walk=%.3f window=%.3f copy_group=%.3f ok=%d\n", walked, t1 - t0, window, t3 - t2,
         ok);
  DestroyWindow(installState.progressWindow);
  CloseSetupFile(installState.infHandle);
  return ok ? 0 : 1;
}
