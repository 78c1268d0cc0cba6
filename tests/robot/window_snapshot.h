// What a robot reads of a dialog or message box: its caption, its controls and its icon.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ControlState {
  int id = 0;
  std::string className;
  std::string text;
  bool visible = false;
  bool enabled = false;
  LONG style = 0;
  LONG exStyle = 0;
  HICON icon = NULL; // for SS_ICON statics in this process
};

struct WindowSnapshot {
  HWND window = NULL;
  std::string className;
  std::string caption;
  LONG style = 0;
  std::vector<ControlState> controls;

  const ControlState* Control(int id) const;
  bool Has(int id) const {
    return Control(id) != nullptr;
  }
  std::string Text(int id) const;
  // The text of a message box.
  std::string MessageText() const {
    return Text(0xFFFF);
  }
  // Message boxes keep their text in control 0xFFFF; our dialogs' unnamed statics have that id
  // too (-1), but only our dialogs carry the picture control 300.
  bool IsMessageBox() const {
    return Has(0xFFFF) && !Has(300);
  }
  // The icon shown by the first SS_ICON static (the message box's icon, or a dialog's picture).
  HICON Icon() const;
};

WindowSnapshot TakeSnapshot(HWND window);
std::string WindowText(HWND window);
