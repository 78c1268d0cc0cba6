// In-process UI robot: a CBT hook sees every dialog and message box of this thread when it is
// first activated, records what it shows and hands it to the handler a test queued for it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "window_snapshot.h"

class UiRobot;
using WindowHandler = std::function<void(UiRobot& robot, const WindowSnapshot& window)>;
using WindowMatcher = std::function<bool(const WindowSnapshot& window)>;

// Matchers for the installer's windows.
bool IsDestinationPage(const WindowSnapshot& w);
bool IsOptionsPage(const WindowSnapshot& w);
bool IsProgressWindow(const WindowSnapshot& w);
bool IsExitQuestion(const WindowSnapshot& w);
bool IsMessageBox(const WindowSnapshot& w);
// The platform's folder browser: a dialog with a folder tree.
bool IsFolderBrowser(const WindowSnapshot& w);
bool IsAnyWindow(const WindowSnapshot& w);

class UiRobot {
public:
  UiRobot();
  ~UiRobot();
  UiRobot(const UiRobot&) = delete;
  UiRobot& operator=(const UiRobot&) = delete;

  // The next new window that matches is handed to handler. Expectations are met in order; a
  // progress window that no expectation asks for is only recorded.
  void Expect(const char* name, WindowMatcher matcher, WindowHandler handler);
  // Shorthand: the next matching window is answered by clicking button id.
  void ExpectAndClick(const char* name, WindowMatcher matcher, int buttonId);

  // Runs fn from this thread's message loop (the current modal loop), after the hook returns.
  void Later(std::function<void()> fn);
  // Posts a click on a button of a window of this thread.
  static void Click(HWND window, int id);

  // Every window seen, in order.
  const std::vector<WindowSnapshot>& Seen() const {
    return seen_;
  }
  // Message boxes seen, in order.
  std::vector<WindowSnapshot> MessageBoxes() const;
  // Expectations not met, and windows that came unexpected.
  bool AllMet() const {
    return expectations_.empty();
  }
  const std::vector<std::string>& Problems() const {
    return problems_;
  }
  std::string Report() const;

private:
  struct Expectation {
    std::string name;
    WindowMatcher matcher;
    WindowHandler handler;
  };
  static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
  void OnActivate(HWND window);

  HHOOK hook_ = NULL;
  HWND messageWindow_ = NULL;
  std::vector<HWND> known_;
  std::vector<Expectation> expectations_;
  std::vector<WindowSnapshot> seen_;
  std::vector<std::string> problems_;
  std::vector<std::function<void()>> pending_;
};
