#pragma once

#include <windows.h>

// Runs the shell folder browser over the destination page and takes over its result.
void BrowseForDestination(HWND owner);
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM parameter, LPARAM data);
