/* Looks at a progress window from another process while its program is held at a read, as any
   other program (a screen reader, an automation tool) would see it:
     window_probe <window, hex> <hold's control folder> <output file>
   Waits for the hold's "held" report, writes to the output file whether each changing part (the
   two text lines and the bar) is visible, by its style and by IsWindowVisible, the lower text
   line's text, and then the window's client area as the display shows it (24-bit rows, bottom
   up); then lets the read go on ("release"). No message is sent to the held program. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static int Exists(const char* folder, const char* name) {
  char path[MAX_PATH];
  _snprintf(path, sizeof path, "%s\\%s", folder, name);
  path[MAX_PATH - 1] = '\0';
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int main(int argc, char** argv) {
  static const int parts[] = {1011, 1012, 1003};
  HWND window;
  FILE* out;
  RECT client;
  POINT origin = {0, 0};
  char text[256] = "";
  char release[MAX_PATH];
  DWORD waited = 0;
  int i;
  if (argc != 4) {
    return 2;
  }
  window = (HWND)(INT_PTR)strtoul(argv[1], NULL, 16);
  while (!Exists(argv[2], "held") && waited < 120000) {
    Sleep(10); /* polling for the hold's report */
    waited += 10;
  }
  out = fopen(argv[3], "wb");
  if (out == NULL) {
    return 1;
  }
  for (i = 0; i < 3; ++i) {
    HWND part = GetDlgItem(window, parts[i]);
    fprintf(out, "%d%d", (GetWindowLongA(part, GWL_STYLE) & WS_VISIBLE) != 0,
            IsWindowVisible(part) != 0);
  }
  GetWindowTextA(GetDlgItem(window, 1012), text, sizeof text);
  fprintf(out, "\n%s\n", text);
  GetClientRect(window, &client);
  ClientToScreen(window, &origin);
  {
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BITMAPINFO info;
    size_t size = (size_t)((client.right * 3 + 3) & ~3) * client.bottom;
    char* pixels = (char*)malloc(size);
    BitBlt(memory, 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    if (pixels != NULL) {
      GetDIBits(memory, bitmap, 0, client.bottom, pixels, &info, DIB_RGB_COLORS);
      fwrite(pixels, 1, size, out);
      free(pixels);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
  }
  fclose(out);
  _snprintf(release, sizeof release, "%s\\release", argv[2]);
  release[MAX_PATH - 1] = '\0';
  fclose(fopen(release, "wb"));
  return 0;
}
