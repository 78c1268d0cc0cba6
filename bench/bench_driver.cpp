// Times installs from outside. Prints one line of name=seconds pairs.
//   bench_driver setup <setup.exe>   drives a whole install (Next, Next, OK on the completion
//                                    message) and times its phases from the windows it sees
//   bench_driver check <setup.exe>   the same up to the options page, then leaves through Cancel
//                                    and the exit question: the checking step without a copy
//   bench_driver run <command line>  runs a program to its end (a silent installer, a copy tool)
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "ui/resources/resource.h"

namespace {

const DWORD kTimeoutMs = 3600 * 1000;
LARGE_INTEGER frequency;

double Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart / (double)frequency.QuadPart;
}

enum Kind { kDestinationPage, kOptionsPage, kProgressWindow, kExitQuestion, kMessageBox, kKinds };

// Another process's window texts are read from the window manager, without a message to it.
void TextOf(HWND window, char* text, int size) {
  text[0] = '\0';
  GetWindowTextA(window, text, size);
}

struct Search {
  DWORD processId;
  HWND found[kKinds];
};

// Dialogs are told apart by their controls; a message box has a text (0xFFFF) but no picture.
BOOL CALLBACK Classify(HWND window, LPARAM data) {
  Search* search = (Search*)data;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[16] = "";
  if (process != search->processId || !IsWindowVisible(window) ||
      !GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0) {
    return TRUE;
  }
  if (GetDlgItem(window, IDC_INTRODUCTION) != NULL) {
    search->found[kDestinationPage] = window;
  } else if (GetDlgItem(window, IDC_OPTION1) != NULL) {
    search->found[kOptionsPage] = window;
  } else if (GetDlgItem(window, IDC_PROGRESS_BAR) != NULL) {
    search->found[kProgressWindow] = window;
  } else if (GetDlgItem(window, 0xFFFF) != NULL && GetDlgItem(window, IDC_PICTURE) == NULL) {
    search->found[kMessageBox] = window;
  } else {
    char caption[32];
    TextOf(window, caption, sizeof caption);
    if (strcmp(caption, "Exit Setup") == 0) {
      search->found[kExitQuestion] = window;
    }
  }
  return TRUE;
}

void Click(HWND dialog, int id) {
  PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

PROCESS_INFORMATION Start(char* commandLine, const char* folder) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES; // what a console program prints shows in ours
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, folder, &startup, &process)) {
    fprintf(stderr, "cannot start %s (error %lu)\n", commandLine, GetLastError());
  }
  return process;
}

int DriveSetup(const char* exePath, bool checkOnly) {
  char commandLine[MAX_PATH + 2];
  char folder[MAX_PATH];
  snprintf(commandLine, sizeof commandLine, "\"%s\"", exePath);
  snprintf(folder, sizeof folder, "%s", exePath);
  char* cut = strrchr(folder, '\\');
  if (cut != NULL) {
    *cut = '\0';
  }
  double start = Now();
  PROCESS_INFORMATION process = Start(commandLine, folder);
  if (process.hProcess == NULL) {
    return 2;
  }
  // 0 wait for the destination page, 1 for the options page, 2 for the completion message
  int step = 0;
  double firstPage = 0, nextOnFirst = 0, optionsPage = 0, nextOnOptions = 0, completing = 0,
         message = 0;
  char text[256];
  int failed = 0;
  while (step < 3) {
    // Each look costs the window manager (and, through qemu, a core) some work: during the
    // copy it looks less often, so that the driver does not slow down what it measures.
    if (WaitForSingleObject(process.hProcess, step == 2 ? 50 : 5) == WAIT_OBJECT_0) {
      fprintf(stderr, "setup.exe ended before the completion message (step %d)\n", step);
      failed = 1;
      break;
    }
    if (Now() - start > kTimeoutMs / 1000.0) {
      fprintf(stderr, "timed out at step %d\n", step);
      failed = 1;
      break;
    }
    Search search = {process.dwProcessId, {}};
    EnumWindows(Classify, (LPARAM)&search);
    double now = Now();
    HWND box = search.found[kMessageBox];
    if (checkOnly && step == 2) {
      if (search.found[kExitQuestion] != NULL) {
        Click(search.found[kExitQuestion], IDC_NEXT);
        step = 3;
      }
    } else if (box != NULL) {
      TextOf(GetDlgItem(box, 0xFFFF), text, sizeof text);
      if (step != 2 || strncmp(text, "Setup has finished", 18) != 0) {
        fprintf(stderr, "unexpected message at step %d: %s\n", step, text);
        failed = 1;
      }
      if (completing == 0) {
        completing = now; // the completing step was shorter than one look
      }
      message = now;
      Click(box, IDOK);
      step = 3;
    } else if (step == 0 && search.found[kDestinationPage] != NULL) {
      firstPage = now;
      Click(search.found[kDestinationPage], IDC_NEXT);
      nextOnFirst = Now();
      step = 1;
    } else if (step == 1 && search.found[kOptionsPage] != NULL) {
      optionsPage = now;
      Click(search.found[kOptionsPage], checkOnly ? IDC_CANCEL : IDC_NEXT);
      nextOnOptions = Now();
      step = 2;
    } else if (step == 2 && completing == 0 && search.found[kProgressWindow] != NULL) {
      TextOf(GetDlgItem(search.found[kProgressWindow], IDC_LOWER_TEXT), text, sizeof text);
      if (strcmp(text, "Completing installation...") == 0) {
        completing = now;
      }
    }
  }
  if (WaitForSingleObject(process.hProcess, failed ? 10000 : kTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
    failed = 1;
  }
  double end = Now();
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (failed) {
    return 1;
  }
  if (checkOnly) {
    printf("first_page=%.3f checking=%.3f\n", firstPage - start, optionsPage - nextOnFirst);
    return 0;
  }
  printf("first_page=%.3f checking=%.3f copy=%.3f completing=%.3f closing=%.3f total=%.3f\n",
         firstPage - start, optionsPage - nextOnFirst, completing - nextOnOptions,
         message - completing, end - message, end - start);
  return 0;
}

int Run(int argc, char** argv) {
  char commandLine[4096] = "";
  for (int i = 2; i < argc; ++i) {
    size_t used = strlen(commandLine);
    snprintf(commandLine + used, sizeof commandLine - used, i > 2 ? " %s" : "%s", argv[i]);
  }
  double start = Now();
  PROCESS_INFORMATION process = Start(commandLine, NULL);
  if (process.hProcess == NULL) {
    return 2;
  }
  DWORD exitCode = 99;
  if (WaitForSingleObject(process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
  }
  double end = Now();
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  printf("total=%.3f exit=%lu\n", end - start, exitCode);
  return exitCode == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  QueryPerformanceFrequency(&frequency);
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc == 3 && strcmp(argv[1], "setup") == 0) {
    return DriveSetup(argv[2], false);
  }
  if (argc == 3 && strcmp(argv[1], "check") == 0) {
    return DriveSetup(argv[2], true);
  }
  if (argc >= 3 && strcmp(argv[1], "run") == 0) {
    return Run(argc, argv);
  }
  fprintf(stderr, "usage: bench_driver setup|check <setup.exe> | run <command line>\n");
  return 2;
}
