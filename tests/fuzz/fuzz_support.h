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

// What a bounded operation must leave: the whole text when it fits, else its longest prefix.
inline std::string Cut(const std::string& whole, size_t size) {
  return whole.substr(0, size - 1);
}

// The code page of the rules, by one more input byte (past the input's end: single-byte, so older
// seeds keep their meaning): single-byte, 932 or 950.
inline void ChooseCodePage(FuzzInput& in) {
  const int codePages[] = {1252, 932, 950};
  SetLeadByteRanges(KnownLeadByteRanges(codePages[in.Byte() % 3]), kLeadByteRangesSize);
}

// text's characters; each of texts' in turn.
inline std::vector<std::string> Characters(std::initializer_list<std::string> texts) {
  std::vector<std::string> characters;
  for (const std::string& text : texts) {
    for (size_t i = 0; i < text.size(); i += characters.back().size()) {
      characters.push_back(text.substr(i, CharacterSize(text.c_str() + i)));
    }
  }
  return characters;
}

// A cut between characters: as many whole ones as fit with a terminator, none after the first
// that does not.
inline std::string Cut(const std::vector<std::string>& characters, size_t size) {
  std::string text;
  for (size_t i = 0; i < characters.size() && text.size() + characters[i].size() < size; ++i) {
    text += characters[i];
  }
  return text;
}
