// What the user sees: the display as the X server holds it, read from outside Wine. Under Wine,
// reading the screen back through GDI gives what Wine keeps for it, which newer Wines no longer
// keep in step with the windows; the X server's picture is the one on the monitor.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<DWORD> pixels; // 0x00RRGGBB, rows top-down: a 32-bit top-down DIB's layout
};
// A pixel of a window that another window covers: the display does not show it.
enum : DWORD { kCoveredPixel = 0xFF000000u };

// Why the display cannot be read here (not under Wine, no X display, no ImageMagick); empty when
// it can.
std::string DisplayReadProblem();

// A rectangle of the display in screen coordinates; false with the reason when it cannot be read.
bool ReadDisplay(const RECT& area, Picture* picture, std::string* problem = nullptr);

// A window's client area as the display shows it; what windows above it cover is kCoveredPixel.
bool ReadClientOnDisplay(HWND window, Picture* picture, std::string* problem = nullptr);

// Lets the calling thread's windows show what they painted: under Wine, painting reaches the
// display when the thread looks for messages and finds none. No message is taken.
void ShowOwnPainting();

// How many pixels differ in a colour by more than a few levels (the display may round colours),
// counting every pixel of a size difference; covered pixels are not compared.
size_t DifferingPixels(const Picture& a, const Picture& b);

// How many uncovered pixels show a colour, within the same few levels.
size_t PixelsOfColour(const Picture& picture, COLORREF colour);
