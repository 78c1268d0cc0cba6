// The host window: created minimized, the run started by a posted command, later moves refused.
#include <gtest/gtest.h>

#include "shell/host_window.h"
#include "support/test_support.h"

TEST(HostWindow, StartsTheRunThroughThePostedCommandAndStaysPut) {
  ResetInstallState();
  HINSTANCE instance = GetModuleHandleA(NULL);
  RegisterHostClass(instance); // a second registration in the same process fails harmlessly
  ASSERT_EQ(1, CreateHostWindow(instance));
  HWND host = FindWindowA("KVSetupClass", "Kelvara Setup");
  ASSERT_NE(nullptr, host);
  EXPECT_TRUE(IsIconic(host));
  EXPECT_EQ(1, positionLocked); // the first showing went through

  // The run was posted, not started during creation; take it out so it does not run here.
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, host, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_EQ((WPARAM)IDM_START_INSTALL, message.wParam);
  EXPECT_EQ(0, message.lParam);

  WINDOWPOS position = {};
  position.hwnd = host;
  position.flags = SWP_SHOWWINDOW | SWP_NOZORDER;
  EXPECT_EQ(0, SendMessageA(host, WM_WINDOWPOSCHANGING, 0, (LPARAM)&position));
  EXPECT_EQ(0x20Bu, position.flags);
  RECT before;
  RECT after;
  GetWindowRect(host, &before);
  SetWindowPos(host, NULL, 10, 10, 500, 400, SWP_NOZORDER);
  GetWindowRect(host, &after);
  EXPECT_TRUE(EqualRect(&before, &after)); // neither moved nor sized

  // WM_DESTROY is answered with the quit message and exit code 0.
  SendMessageA(host, WM_DESTROY, 0, 0);
  ASSERT_TRUE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(0u, message.wParam);
  positionLocked = 0;
  DestroyWindow(host);
}
