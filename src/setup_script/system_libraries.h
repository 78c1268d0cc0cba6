// System programs and libraries, taken from the system folder by full path only. A program runs
// from folders its user may not control (an unpacked download, a shared folder), so a file
// placed beside it under a system name must never be started or loaded in the system's place.
// Shared by every program we ship.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <stddef.h>

// Limits the libraries the process loads by name to the system folder, where the platform
// offers that. Every program calls it first, before anything can load a library.
void RestrictLibrarySearch(void);

// Shows cause followed by the system's own text for error, in a message box captioned
// "Setup Error" with icon; cause is cut to fit, never written past its buffer.
void ShowSystemError(HWND owner, const char* cause, DWORD error, UINT icon);

// The system folder, as the platform reports it to a 32-bit program, joined with name. Returns 0
// when it does not fit size.
int SystemFilePath(char* path, size_t size, const char* name);

// A function of a system library and the function pointer that receives its address.
struct SystemFunction {
  const char* name;
  void* pointer;
};

// Loads library from the system folder by its full path and fills the pointer of every entry.
// When the library or one of its functions is missing, tells the user so and returns 0.
int LoadSystemFunctions(const char* library, const SystemFunction* functions, size_t count);

// Registration of the common controls' window classes, looked up once in the system's
// comctl32.dll by LoadCommonControls.
extern BOOL(WINAPI* initCommonControls)(const INITCOMMONCONTROLSEX*);
int LoadCommonControls(void);
