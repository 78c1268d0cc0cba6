// Small text helpers that the checker, the plan and the SETUP.DAT writer share.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "code_page.h"

inline std::string Number(int64_t value) {
  char text[32];
  snprintf(text, sizeof text, "%lld", (long long)value);
  return text;
}

// A JSON string of text in the selected code page: its characters as \u escapes beyond ASCII, so
// any SETUP.DAT gives valid output.
inline std::string JsonString(const std::string& text) {
  std::string json = "\"";
  char escape[8];
  for (char16_t unit : Widened(text)) {
    if (unit == '"' || unit == '\\') {
      json += '\\';
      json += (char)unit;
    } else if (unit < 0x20 || unit >= 0x7F) {
      snprintf(escape, sizeof escape, "\\u%04x", (unsigned int)unit);
      json += escape;
    } else {
      json += (char)unit;
    }
  }
  return json + "\"";
}

// The single-byte ASCII letters in lower case; other characters as they are (names compare so on
// the platform).
inline std::string LowerAscii(std::string text) {
  for (size_t i = 0; i < text.size(); i += CharBytes(text, i)) {
    if (text[i] >= 'A' && text[i] <= 'Z') {
      text[i] = (char)(text[i] - 'A' + 'a');
    }
  }
  return text;
}
