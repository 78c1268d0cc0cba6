// Shared by the fuzz targets: the input read piece by piece, texts at the very end of their own
// heap block (so that AddressSanitizer sees any byte read or written past them), and the check
// that stops the run with the broken rule.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "setup_script/text_rules.h"

#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      fprintf(stderr, "broken rule at %s:%d: %s\n", __FILE__, __LINE__, #condition);               \
      abort();                                                                                     \
    }                                                                                              \
  } while (0)

// Past its end the input reads as zeros and empty texts.
class FuzzInput {
public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() {
    return used_ < size_ ? data_[used_++] : 0;
  }
  uint32_t Word32() {
    uint32_t value = Byte();
    for (int i = 0; i < 3; ++i) {
      value = value << 8 | Byte();
    }
    return value;
  }
  // Mostly small, so that cuts are frequent; sometimes up to 600.
  size_t BufferSize() {
    uint8_t first = Byte();
    return first < 200 ? 1 + first % 48 : 1 + (((size_t)first << 8) | Byte()) % 600;
  }
  // Up to the next zero byte.
  std::string Text() {
    std::string text;
    while (used_ < size_ && data_[used_] != 0) {
      text += (char)data_[used_++];
    }
    used_ += used_ < size_;
    return text;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

// Exactly size bytes, filled with '#'; or a copy of text with its terminator and nothing more.
class HeapBlock {
public:
  explicit HeapBlock(size_t size) : size_(size), bytes_((char*)malloc(size)) {
    memset(bytes_, '#', size_);
  }
  explicit HeapBlock(const std::string& text) : HeapBlock(text.size() + 1) {
    memcpy(bytes_, text.c_str(), size_);
  }
  ~HeapBlock() {
    free(bytes_);
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  char* Data() {
    return bytes_;
  }
  size_t Size() const {
    return size_;
  }
  bool Terminated() const {
    return memchr(bytes_, '\0', size_) != nullptr;
  }
  std::string Text() const {
    return std::string(bytes_);
  }

private:
  size_t size_;
  char* bytes_;
};

// What a bounded operation on an ASCII text must leave: the whole text when it fits, else its
// longest prefix.
inline std::string Cut(const std::string& whole, size_t size) {
  return whole.substr(0, size - 1);
}

// The code page a check runs in, chosen by one byte of the input (past its end: single-byte, so
// older inputs keep their meaning): single-byte, 932 or 950. Set for the rules; the model keeps
// its own list of lead bytes.
class CodePage {
public:
  explicit CodePage(FuzzInput& in) : kind_(in.Byte() % 3) {
    SetLeadByteRanges(KnownLeadByteRanges(kind_ == 1 ? 932 : kind_ == 2 ? 950 : 1252), 6);
  }
  bool Lead(char c) const {
    unsigned char b = (unsigned char)c;
    return kind_ == 1 ? (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)
                      : kind_ == 2 && b >= 0x81 && b <= 0xFE;
  }
  // text as its characters: a lead byte and the byte after it are one.
  std::vector<std::string> Characters(const std::string& text) const {
    std::vector<std::string> characters;
    for (size_t i = 0; i < text.size(); i += characters.back().size()) {
      characters.push_back(text.substr(i, Lead(text[i]) && i + 1 < text.size() ? 2 : 1));
    }
    return characters;
  }

private:
  int kind_;
};

// What a bounded operation must leave: its pieces (characters) in order while each and a
// terminator fit, nothing after the first that does not; *fitted tells whether all did.
inline std::string Bounded(const std::vector<std::string>& pieces, size_t size, bool* fitted) {
  std::string text;
  for (const std::string& piece : pieces) {
    if (text.size() + piece.size() >= size) {
      *fitted = false;
      return text;
    }
    text += piece;
  }
  *fitted = true;
  return text;
}

inline std::vector<std::string> operator+(std::vector<std::string> a,
                                          const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
