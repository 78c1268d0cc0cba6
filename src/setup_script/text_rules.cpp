#include "text_rules.h"

#include <stdarg.h>

namespace {

// 1 for the lead bytes of the code page in use; zero-filled: a single-byte code page.
unsigned char leadBytes[256];

const unsigned char kLeadBytes932[kLeadByteRangesSize] = {0x81, 0x9F, 0xE0, 0xFC};
const unsigned char kLeadBytesFrom81[kLeadByteRangesSize] = {0x81, 0xFE}; // 936, 949 and 950

} // namespace

void SetLeadByteRanges(const unsigned char* ranges, size_t size) {
  for (size_t b = 0; b < sizeof leadBytes; ++b) {
    leadBytes[b] = 0;
  }
  for (size_t i = 0; ranges != NULL && i + 1 < size && ranges[i] != 0; i += 2) {
    for (unsigned int b = ranges[i]; b <= ranges[i + 1]; ++b) {
      leadBytes[b] = 1;
    }
  }
}

const unsigned char* KnownLeadByteRanges(int codePage) {
  switch (codePage) {
  case 932:
    return kLeadBytes932;
  case 936:
  case 949:
  case 950:
    return kLeadBytesFrom81;
  }
  return NULL;
}

int IsLeadByte(char c) {
  return leadBytes[(unsigned char)c];
}

size_t CharacterSize(const char* text) {
  return IsLeadByte(text[0]) && text[1] != '\0' ? 2 : 1;
}

size_t CountCharacters(const char* text) {
  size_t count = 0;
  for (; *text != '\0'; text += CharacterSize(text)) {
    ++count;
  }
  return count;
}

// The last character of text, or NULL for an empty text.
static const char* LastCharacter(const char* text) {
  const char* last = NULL;
  for (; *text != '\0'; text += CharacterSize(text)) {
    last = text;
  }
  return last;
}

static int IsSeparator(const char* character) {
  return character[0] == '\\' && CharacterSize(character) == 1;
}

const char* FindLastSeparator(const char* path) {
  const char* last = NULL;
  for (; *path != '\0'; path += CharacterSize(path)) {
    if (IsSeparator(path)) {
      last = path;
    }
  }
  return last;
}

// "/" separates as "\" does: the file functions read it so. Characters are walked, so a trail
// byte is never taken for either.
static int IsAnySeparator(char c) {
  return c == '\\' || c == '/';
}

int NamesPlaceOutside(const char* target) {
  if (target[0] == '\0' || IsAnySeparator(target[0])) {
    return 1;
  }
  int dots = 0;
  int other = 0;
  for (const char* p = target;; p += CharacterSize(p)) {
    // A part of dots and blanks only, two dots or more, is taken as "..": the safe side.
    if (*p == ':' || ((*p == '\0' || IsAnySeparator(*p)) && dots >= 2 && !other)) {
      return 1;
    }
    if (*p == '\0') {
      return 0;
    }
    if (IsAnySeparator(*p)) {
      dots = other = 0;
    } else {
      dots += *p == '.';
      other |= *p != '.' && *p != ' ';
    }
  }
}

size_t CountSeparators(const char* path) {
  size_t count = 0;
  for (; *path != '\0'; path += CharacterSize(path)) {
    count += IsSeparator(path) ? 1 : 0;
  }
  return count;
}

size_t TextLength(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length;
}

int CopyCharacters(char* dest, size_t size, const char* src, size_t count) {
  if (size == 0) {
    return 0;
  }
  size_t i = 0;
  for (; src[i] != '\0' && count > 0; --count) {
    size_t bytes = CharacterSize(src + i);
    if (i + bytes >= size) {
      dest[i] = '\0';
      return 0; // the character and the terminator do not both fit
    }
    for (size_t k = 0; k < bytes; ++k, ++i) {
      dest[i] = src[i];
    }
  }
  dest[i] = '\0';
  return 1;
}

int CopyText(char* dest, size_t size, const char* src) {
  return CopyCharacters(dest, size, src, (size_t)-1);
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

void DropIncompleteCharacter(char* text) {
  char* last = (char*)LastCharacter(text);
  if (last != NULL && IsLeadByte(*last) && CharacterSize(last) == 1) {
    *last = '\0'; // a lead byte without its trail byte is no character
  }
}

namespace {

// A bounded output: characters are written whole while they and a terminator fit; after the
// first one that does not, nothing more is written, so the text is always a prefix.
struct Output {
  char* dest;
  size_t size;
  size_t used;
  int cut;
};

void PutBytes(Output* out, const char* bytes, size_t count) {
  if (out->cut || out->used + count >= out->size) {
    out->cut = 1;
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    out->dest[out->used++] = bytes[i];
  }
}

void PutText(Output* out, const char* text) {
  for (; *text != '\0' && !out->cut; text += CharacterSize(text)) {
    PutBytes(out, text, CharacterSize(text));
  }
}

void PutDecimal(Output* out, int value) {
  char digits[12];
  int count = 0;
  // Work on the unsigned magnitude so that INT_MIN needs no special case.
  unsigned int magnitude = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
  do {
    digits[count++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) {
    PutBytes(out, "-", 1);
  }
  while (count > 0) {
    PutBytes(out, &digits[--count], 1);
  }
}

} // namespace

int FormatText(char* dest, size_t size, const char* format, ...) {
  if (size == 0) {
    return 0;
  }
  va_list args;
  va_start(args, format);
  Output out = {dest, size, 0, 0};
  for (const char* p = format; *p != '\0';) {
    if (p[0] == '%' && p[1] == 's') {
      PutText(&out, va_arg(args, const char*));
      p += 2;
    } else if (p[0] == '%' && p[1] == 'd') {
      PutDecimal(&out, va_arg(args, int));
      p += 2;
    } else if (p[0] == '%' && p[1] == '%') {
      PutBytes(&out, "%", 1);
      p += 2;
    } else {
      PutBytes(&out, p++, 1); // the format is the program's own ASCII text
    }
  }
  va_end(args);
  dest[out.used] = '\0';
  return !out.cut;
}

int SplitGroupLine(const char* line, char* target, size_t targetSize, char* source,
                   size_t sourceSize) {
  size_t comma = 0;
  while (line[comma] != '\0' && line[comma] != ',') {
    comma += CharacterSize(line + comma);
  }
  int fitted = 1;
  if (line[comma] == ',') {
    fitted &= CopyText(source, sourceSize, line + comma + 1);
  } else {
    fitted &= CopyText(source, sourceSize, line);
  }
  // The target is the text before the comma, cut like a copy.
  if (targetSize == 0) {
    return 0;
  }
  size_t i = 0;
  while (i < comma && i + CharacterSize(line + i) < targetSize) {
    i += CharacterSize(line + i);
  }
  for (size_t k = 0; k < i; ++k) {
    target[k] = line[k];
  }
  target[i] = '\0';
  fitted &= (i == comma);
  return fitted;
}

static int JoinPath(char* dest, size_t size, const char* folder, const char* name,
                    int alwaysSeparate) {
  // Once a part is cut nothing more is added, so the text is always a prefix of the whole.
  int fitted = CopyText(dest, size, folder);
  const char* last = LastCharacter(folder);
  if (fitted && (alwaysSeparate || last == NULL || !IsSeparator(last))) {
    fitted = AppendText(dest, size, "\\");
  }
  return fitted && AppendText(dest, size, name);
}

int JoinPathOnce(char* dest, size_t size, const char* folder, const char* name) {
  return JoinPath(dest, size, folder, name, 0);
}

int JoinPathAlways(char* dest, size_t size, const char* folder, const char* name) {
  return JoinPath(dest, size, folder, name, 1);
}

void CutAtLastSeparator(char* path) {
  char* last = (char*)FindLastSeparator(path);
  if (last != NULL && last != path) { // the first character is never tested
    *last = '\0';
  }
}

int ReplacementName(char* dest, size_t size, const char* target) {
  static const char kEnding[] = ".kvs-new";
  size_t nameLength = 0;
  for (const char* c = target; *c != '\0'; c += CharacterSize(c)) {
    nameLength = IsSeparator(c) ? 0 : nameLength + CharacterSize(c); // in bytes: never too few
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
  for (;;) {
    size_t bytes = CharacterSize(a);
    if (bytes == 2) { // a double-byte character: its trail byte is no letter
      if (a[0] != b[0] || a[1] != b[1]) {
        return 0;
      }
    } else if (LowerAscii(*a) != LowerAscii(*b)) {
      return 0;
    } else if (*a == '\0') {
      return 1;
    }
    a += bytes;
    b += bytes;
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

size_t DrivePrefixLength(const char* typed) {
  if (typed[0] == '\0') {
    return 0;
  }
  size_t first = CharacterSize(typed);
  return typed[first] == ':' && typed[first + 1] == '\\' ? first + 2 : 0;
}

void RemoveTrailingSeparator(char* path) {
  char* last = (char*)LastCharacter(path);
  if (last != NULL && IsSeparator(last)) {
    *last = '\0';
  }
}
