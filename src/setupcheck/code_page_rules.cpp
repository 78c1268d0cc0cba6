#include "code_page.h"

#include <string.h>

namespace {

bool doubleByte = false;
NarrowUnitFunction narrowing = nullptr;

} // namespace

void SetCodePageRules(const unsigned char* leadRanges, NarrowUnitFunction narrow) {
  size_t size = 0;
  while (leadRanges[size] != 0) {
    size += 2;
  }
  SetLeadByteRanges(leadRanges, size + 2);
  doubleByte = size > 0;
  narrowing = narrow;
}

NarrowUnitFunction CodePageNarrowing() {
  return narrowing;
}

bool IsDoubleByteCodePage() {
  return doubleByte;
}

size_t CharBytes(const std::string& text, size_t at) {
  // Every trail byte is 0x40 or above: a lead byte before a control character, a blank or
  // punctuation, or at the very end, stands alone.
  return IsLeadByte(text[at]) && at + 1 < text.size() && (unsigned char)text[at + 1] >= 0x40 ? 2
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

size_t CharCount(const std::string& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); i += CharBytes(text, i)) {
    ++count;
  }
  return count;
}

void CutToChars(std::string* text, size_t limit) {
  size_t i = 0;
  for (size_t count = 0; i < text->size() && count < limit; ++count) {
    i += CharBytes(*text, i);
  }
  text->resize(i);
}
