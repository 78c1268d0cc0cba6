#include "display_reader.h"

#include <stdio.h>
#include <stdlib.h>

#include "process_robot.h"

namespace {
enum { kLevelsTolerated = 12 };

std::string XDisplay() {
  char display[256] = "";
  DWORD length = GetEnvironmentVariableA("DISPLAY", display, sizeof display);
  return length > 0 && length < sizeof display ? display : "";
}

bool SameColour(DWORD a, DWORD b) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (abs((int)(a >> shift & 0xFF) - (int)(b >> shift & 0xFF)) > kLevelsTolerated) {
      return false;
    }
  }
  return true;
}
} // namespace

std::string DisplayReadProblem() {
  static std::string problem = [] {
    if (HostPath("C:\\").empty()) {
      return std::string("no host programs: not under Wine");
    }
    if (XDisplay().empty()) {
      return std::string("no X display in DISPLAY");
    }
    if (!FileExists("Z:\\usr\\bin\\import")) {
      return std::string("no ImageMagick import on the host to read the display with");
    }
    return std::string();
  }();
  return problem;
}

bool ReadDisplay(const RECT& area, Picture* picture, std::string* problem) {
  std::string why = DisplayReadProblem();
  const int width = area.right - area.left, height = area.bottom - area.top;
  picture->width = picture->height = 0;
  picture->pixels.clear();
  if (why.empty() && (width <= 0 || height <= 0)) {
    why = "an empty area";
  }
  TempFolder folder("display");
  const std::string out = folder / "shown.rgb", failed = folder / "failed";
  if (why.empty()) {
    // The X server's own picture of the root window: what every window shows, as it is stacked.
    char command[2048];
    snprintf(command, sizeof command,
             "sh -c \"import -silent -display '%s' -window root -crop %dx%d%+d%+d +repage "
             "-depth 8 'rgb:%s.part' && mv '%s.part' '%s' || echo failed >'%s'\"",
             XDisplay().c_str(), width, height, (int)area.left, (int)area.top,
             HostPath(out).c_str(), HostPath(out).c_str(), HostPath(out).c_str(),
             HostPath(failed).c_str());
    if (!StartHostProgram("Z:\\bin\\sh", command)) {
      why = "the host shell could not be started";
    } else if (!WaitUntil([&] { return FileExists(out) || FileExists(failed); }, 60000)) {
      why = "ImageMagick's import never ended";
    } else if (!FileExists(out)) {
      why = "ImageMagick's import failed on display " + XDisplay();
    }
  }
  const std::string bytes = why.empty() ? ReadTextFile(out) : "";
  if (why.empty() && bytes.size() != (size_t)width * height * 3) {
    why = "the display's picture has " + std::to_string(bytes.size()) + " bytes";
  }
  if (!why.empty()) {
    if (problem != nullptr) {
      *problem = why;
    }
    return false;
  }
  picture->width = width;
  picture->height = height;
  picture->pixels.resize((size_t)width * height);
  for (size_t i = 0; i < picture->pixels.size(); ++i) {
    const BYTE* rgb = (const BYTE*)bytes.data() + 3 * i;
    picture->pixels[i] = (DWORD)rgb[0] << 16 | (DWORD)rgb[1] << 8 | rgb[2];
  }
  return true;
}

bool ReadClientOnDisplay(HWND window, Picture* picture, std::string* problem) {
  RECT client;
  GetClientRect(window, &client);
  MapWindowPoints(window, NULL, (POINT*)&client, 2);
  if (!ReadDisplay(client, picture, problem)) {
    return false;
  }
  for (HWND above = GetWindow(window, GW_HWNDPREV); above != NULL;
       above = GetWindow(above, GW_HWNDPREV)) {
    RECT covered;
    GetWindowRect(above, &covered);
    if (!IsWindowVisible(above) || !IntersectRect(&covered, &covered, &client)) {
      continue;
    }
    for (LONG y = covered.top; y < covered.bottom; ++y) {
      for (LONG x = covered.left; x < covered.right; ++x) {
        picture->pixels[(size_t)(y - client.top) * picture->width + (x - client.left)] =
            kCoveredPixel;
      }
    }
  }
  return true;
}

void ShowOwnPainting() {
  GdiFlush();
  MSG message; // a message number nobody posts
  PeekMessageA(&message, NULL, WM_APP + 0x3FFF, WM_APP + 0x3FFF, PM_NOREMOVE | PM_NOYIELD);
}

size_t PixelsOfColour(const Picture& picture, COLORREF colour) {
  const DWORD wanted = GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
  size_t count = 0;
  for (DWORD pixel : picture.pixels) {
    count += pixel != kCoveredPixel && SameColour(pixel, wanted) ? 1 : 0;
  }
  return count;
}

size_t DifferingPixels(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) {
    return a.pixels.size() > b.pixels.size() ? a.pixels.size() : b.pixels.size();
  }
  size_t differing = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    if (a.pixels[i] != kCoveredPixel && b.pixels[i] != kCoveredPixel &&
        !SameColour(a.pixels[i], b.pixels[i])) {
      ++differing;
    }
  }
  return differing;
}
