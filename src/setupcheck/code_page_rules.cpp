#include "code_page.h"

#include <string.h>

namespace {

unsigned char leadBytes[256]; // all zero: a single-byte code page
bool doubleByte = false;
NarrowUnitFunction narrowing = nullptr;

} // namespace

void SetCodePageRules(const unsigned char lead[256], NarrowUnitFunction narrow) {
  doubleByte = false;
  for (int c = 0; c < 256; ++c) {
    leadBytes[c] = lead[c] != 0;
    doubleByte |= lead[c] != 0;
  }
  narrowing = narrow;
}

NarrowUnitFunction CodePageNarrowing() {
  return narrowing;
}

bool IsLeadByte(unsigned char c) {
  return leadBytes[c] != 0;
}

bool IsDoubleByteCodePage() {
  return doubleByte;
}

size_t CharBytes(const std::string& text, size_t at) {
  // Every trail byte is 0x40 or above: a lead byte before a control character, a blank or
  // punctuation, or at the very end, stands alone.
  return IsLeadByte((unsigned char)text[at]) && at + 1 < text.size() &&
                 (unsigned char)text[at + 1] >= 0x40
             ? 2
             : 1;
}

size_t FindChar(const std::string& text, const char* chars, size_t from) {
  for (size_t i = from; i < text.size(); i += CharBytes(text, i)) {
    if (text[i] != '\0' && strchr(chars, text[i]) != nullptr) {
      return i;
    }
  }
  return std::string::npos;
}

size_t FindLastChar(const std::string& text, const char* chars) {
  size_t last = std::string::npos;
  for (size_t i = FindChar(text, chars); i != std::string::npos; i = FindChar(text, chars, i + 1)) {
    last = i;
  }
  return last;
}

bool EndsWithChar(const std::string& text, char c) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < text.size(); i += CharBytes(text, i)) {
    last = i;
  }
  return last != std::string::npos && last + 1 == text.size() && text[last] == c;
}
