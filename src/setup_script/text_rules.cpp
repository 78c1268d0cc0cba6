#include "text_rules.h"

#include <stdarg.h>

size_t TextLength(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

int CopyText(char* dest, size_t size, const char* src) {
  if (size == 0) {
    return 0;
  }
  size_t i = 0;
  for (; i + 1 < size && src[i] != '\0'; ++i) {
    dest[i] = src[i];
  }
  dest[i] = '\0';
  return src[i] == '\0';
}

int AppendText(char* dest, size_t size, const char* src) {
  size_t length = 0;
  while (length < size && dest[length] != '\0') {
    ++length;
  }
  if (length == size) {
    return 0; // not terminated inside its buffer: nothing can be appended safely
  }
  return CopyText(dest + length, size - length, src);
}

namespace {

// Writes one character at *used if there is room for it and a terminator.
int PutChar(char* dest, size_t size, size_t* used, char c) {
  if (*used + 1 >= size) {
    return 0;
  }
  dest[(*used)++] = c;
  return 1;
}

int PutDecimal(char* dest, size_t size, size_t* used, int value) {
  char digits[12];
  int count = 0;
  // Work on the unsigned magnitude so that INT_MIN needs no special case.
  unsigned int magnitude = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
  do {
    digits[count++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int fitted = 1;
  if (value < 0) {
    fitted &= PutChar(dest, size, used, '-');
  }
  while (count > 0) {
    fitted &= PutChar(dest, size, used, digits[--count]);
  }
  return fitted;
}

} // namespace

int FormatText(char* dest, size_t size, const char* format, ...) {
  if (size == 0) {
    return 0;
  }
  va_list args;
  va_start(args, format);
  size_t used = 0;
  int fitted = 1;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      const char* text = va_arg(args, const char*);
      for (; *text != '\0'; ++text) {
        fitted &= PutChar(dest, size, &used, *text);
      }
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      fitted &= PutDecimal(dest, size, &used, va_arg(args, int));
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      fitted &= PutChar(dest, size, &used, '%');
      ++p;
    } else {
      fitted &= PutChar(dest, size, &used, *p);
    }
  }
  va_end(args);
  dest[used] = '\0';
  return fitted;
}

int SplitGroupLine(const char* line, char* target, size_t targetSize, char* source,
                   size_t sourceSize) {
  size_t comma = 0;
  while (line[comma] != '\0' && line[comma] != ',') {
    ++comma;
  }
  int fitted = 1;
  if (line[comma] == ',') {
    fitted &= CopyText(source, sourceSize, line + comma + 1);
  } else {
    fitted &= CopyText(source, sourceSize, line);
  }
  // The target is the text before the comma.
  if (targetSize == 0) {
    return 0;
  }
  size_t i = 0;
  for (; i < comma && i + 1 < targetSize; ++i) {
    target[i] = line[i];
  }
  target[i] = '\0';
  fitted &= (i == comma);
  return fitted;
}

static int JoinPath(char* dest, size_t size, const char* folder, const char* name,
                    int alwaysSeparate) {
  int fitted = CopyText(dest, size, folder);
  size_t length = TextLength(folder);
  if (alwaysSeparate || length == 0 || folder[length - 1] != '\\') {
    fitted &= AppendText(dest, size, "\\");
  }
  fitted &= AppendText(dest, size, name);
  return fitted;
}

int JoinPathOnce(char* dest, size_t size, const char* folder, const char* name) {
  return JoinPath(dest, size, folder, name, 0);
}

int JoinPathAlways(char* dest, size_t size, const char* folder, const char* name) {
  return JoinPath(dest, size, folder, name, 1);
}

void CutAtLastSeparator(char* path) {
  size_t length = TextLength(path);
  for (size_t i = length; i > 1; --i) {
    if (path[i - 1] == '\\') {
      path[i - 1] = '\0';
      return;
    }
  }
}

int ReplacementName(char* dest, size_t size, const char* target) {
  static const char kEnding[] = ".kvs-new";
  size_t nameLength = 0;
  for (const char* c = target; *c != '\0'; ++c) {
    nameLength = *c == '\\' ? 0 : nameLength + 1;
  }
  if (nameLength + sizeof kEnding - 1 > 255 || !FormatText(dest, size, "%s%s", target, kEnding)) {
    if (size > 0) {
      dest[0] = '\0';
    }
    return 0;
  }
  return 1;
}

static char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

int EqualIgnoringAsciiCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (LowerAscii(*a) != LowerAscii(*b)) {
      return 0;
    }
    if (*a == '\0') {
      return 1;
    }
  }
}

int32_t ParseSizeValue(const char* text) {
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' ||
         *text == '\f') {
    ++text;
  }
  int negative = 0;
  if (*text == '+' || *text == '-') {
    negative = (*text == '-');
    ++text;
  }
  uint32_t magnitude = 0; // unsigned arithmetic wraps without undefined behaviour
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10u + (uint32_t)(*text - '0');
  }
  if (negative) {
    magnitude = 0u - magnitude;
  }
  // Reinterpret as two's complement without relying on implementation-defined conversion.
  return magnitude <= 0x7FFFFFFFu ? (int32_t)magnitude
                                  : (int32_t)(magnitude - 0x80000000u) - 0x7FFFFFFF - 1;
}

// Writes value with the given decimals (0 or 2), rounding halves away from zero, then " MB".
// The C runtimes disagree on printf's rounding, so the digits are made here.
static void FormatRoundedMegabytes(char* text, size_t size, double value, int decimals) {
  if (value != value) {
    value = 0.0; // not a number: shown as nothing free rather than converted undefined
  }
  int negative = value < 0.0;
  double magnitude = negative ? -value : value;
  double scaled = decimals == 2 ? magnitude * 100.0 : magnitude;
  const double largest = 1.0e18; // beyond any drive; keeps the cast below defined
  uint64_t rounded = scaled >= largest ? (uint64_t)largest : (uint64_t)(scaled + 0.5);
  uint64_t whole = decimals == 2 ? rounded / 100 : rounded;
  char digits[24];
  int count = 0;
  do {
    digits[count++] = (char)('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  char buffer[40];
  size_t used = 0;
  if (negative) {
    buffer[used++] = '-';
  }
  while (count > 0) {
    buffer[used++] = digits[--count];
  }
  if (decimals == 2) {
    unsigned int fraction = (unsigned int)(rounded % 100);
    buffer[used++] = '.';
    buffer[used++] = (char)('0' + fraction / 10);
    buffer[used++] = (char)('0' + fraction % 10);
  }
  buffer[used] = '\0';
  CopyText(text, size, buffer);
  AppendText(text, size, " MB");
}

float StoreAsFloat(double value) {
  volatile float stored = (float)value;
  return stored;
}

void FormatMegabytesText(char* text, size_t size, int32_t bytes) {
  // Only the conversion of the count rounds: dividing by 2^20 is exact.
  float megabytes = StoreAsFloat((double)bytes) / 1048576.0f;
  FormatRoundedMegabytes(text, size, megabytes, bytes >= 104857600 ? 0 : 2);
}

void FormatFreeSpaceText(char* text, size_t size, float megabytes) {
  FormatRoundedMegabytes(text, size, megabytes, megabytes >= 100.0f ? 0 : 2);
}

int HasDrivePrefix(const char* typed) {
  return typed[0] != '\0' && typed[1] == ':' && typed[2] == '\\';
}

void RemoveTrailingSeparator(char* path) {
  size_t length = TextLength(path);
  if (length > 0 && path[length - 1] == '\\') {
    path[length - 1] = '\0';
  }
}
