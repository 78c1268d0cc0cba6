// Small text helpers that the checker, the plan and the SETUP.DAT writer share.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

inline std::string Number(int64_t value) {
  char text[32];
  snprintf(text, sizeof text, "%lld", (long long)value);
  return text;
}

// The ASCII letters in lower case; other bytes as they are (names compare so on the platform).
inline std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = (char)(c - 'A' + 'a');
    }
  }
  return text;
}
