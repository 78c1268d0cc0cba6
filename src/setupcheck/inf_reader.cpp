#include "inf_reader.h"

#include <string.h>

#include <algorithm>
#include <unordered_map>

#include "code_page.h"

namespace {

const char kControlZ = '\x1a'; // the old end-of-file mark: nothing after it is read

// The INF parser's blanks are the platform's wide-character ones: in a single-byte ANSI code page
// that adds the no-break space (0xA0); in a double-byte one 0xA0 is no character of its own.
bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || (c == '\xA0' && !IsDoubleByteCodePage());
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// Names compare by character, with only single-byte ASCII letters folded.
bool SameName(const std::string& a, const char* b) {
  if (strlen(b) != a.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); i += CharBytes(a, i)) {
    bool pair = CharBytes(a, i) == 2;
    if (pair ? a[i] != b[i] || a[i + 1] != b[i + 1] : LowerAscii(a[i]) != LowerAscii(b[i])) {
      return false;
    }
  }
  return true;
}

std::string LowerName(const std::string& name) {
  std::string lower = name;
  for (size_t i = 0; i < lower.size(); i += CharBytes(lower, i)) {
    lower[i] = LowerAscii(lower[i]);
  }
  return lower;
}

// The platform's limits count characters (UTF-16 units, one per character of the code page):
// text is gathered up to the bytes of that many double-byte characters, then cut by character.
const size_t kFieldBytes = 2 * kInfFieldLimit;

// Field text never holds a zero byte (it reads as a blank) and never grows past the limit.
void AppendCapped(std::string* out, const std::string& text, size_t from, size_t to) {
  for (size_t i = from; i < to && out->size() < kFieldBytes; ++i) {
    out->push_back(text[i] == '\0' ? ' ' : text[i]);
  }
}

struct Scanner {
  const std::string& text;
  size_t pos;
  int lineNumber;

  bool AtEnd(size_t p) const {
    return p >= text.size() || text[p] == kControlZ;
  }
  bool AtLineEnd(size_t p) const {
    return AtEnd(p) || text[p] == '\n';
  }
  void SkipToLineEnd() {
    while (!AtLineEnd(pos)) {
      ++pos;
    }
  }
};

const size_t kNoRun = (size_t)-1;

// A run of backslashes: followed (after blanks and perhaps a comment) by the line end, the line
// continues on the next one; before the end of the file it is dropped; before anything else it
// is text, with the blanks before and after it. Returns true for a continuation.
bool ReadBackslashes(Scanner* s, std::string* out, size_t runStart) {
  size_t q = s->pos;
  for (;;) {
    if (s->AtEnd(q)) {
      s->pos = q;
      return false;
    }
    char c = s->text[q];
    if (c == '\n') {
      ++s->lineNumber;
      s->pos = q + 1;
      return true;
    }
    if (c == '\\' || IsSpace(c)) {
      ++q;
    } else if (c == ';') {
      while (!s->AtLineEnd(q)) {
        ++q;
      }
    } else {
      AppendCapped(out, s->text, runStart != kNoRun ? runStart : s->pos, q);
      s->pos = q;
      return false;
    }
  }
}

// Quoted text up to the closing quote ("" is one quote) or the line end.
void ReadQuoted(Scanner* s, std::string* out) {
  size_t p = s->pos;
  while (!s->AtLineEnd(p)) {
    if (s->text[p] == '"') {
      if (p + 1 < s->text.size() && s->text[p + 1] == '"') {
        AppendCapped(out, s->text, p, p + 1);
        p += 2;
        continue;
      }
      s->pos = p + 1;
      return;
    }
    AppendCapped(out, s->text, p, p + 1);
    ++p;
  }
  s->pos = p;
}

// One field; returns what ended it: '=' (only while reading the key), ',', ';' or '\n' for the
// line's end. Blanks inside a field stay, blanks around it go. A zero byte is text in a key
// but a blank in a value, and a blank inside a run of blanks.
char ReadField(Scanner* s, bool keyPhase, std::string* out) {
  size_t runStart = kNoRun;
  bool leading = true;
  for (;;) {
    size_t p = s->pos;
    if (s->AtLineEnd(p)) {
      return '\n';
    }
    char c = s->text[p];
    if (leading && IsSpace(c)) {
      ++s->pos;
      continue;
    }
    leading = false;
    if (IsSpace(c) || (c == '\0' && (!keyPhase || runStart != kNoRun))) {
      if (runStart == kNoRun) {
        runStart = p;
      }
      ++s->pos;
      continue;
    }
    if (c == '\\') {
      leading = ReadBackslashes(s, out, runStart);
      runStart = kNoRun;
      continue;
    }
    if (c == ',' || c == ';' || (keyPhase && c == '=')) {
      ++s->pos;
      return c;
    }
    if (runStart != kNoRun) {
      AppendCapped(out, s->text, runStart, p);
      runStart = kNoRun;
    }
    size_t bytes = CharBytes(s->text, p); // a trail byte is never a backslash or a blank
    s->pos += bytes;
    if (c == '"') {
      ReadQuoted(s, out);
    } else {
      AppendCapped(out, s->text, p, p + bytes);
    }
  }
}

void ReadLine(Scanner* s, InfSection* section) {
  InfLine line;
  line.lineNumber = s->lineNumber;
  line.hasKey = false;
  line.keyWritten = false;
  bool keyPhase = true;
  for (;;) {
    std::string field;
    char end = ReadField(s, keyPhase, &field);
    CutToChars(&field, kInfFieldLimit);
    if (end == '=') {
      line.hasKey = true;
      line.keyWritten = true;
      line.key = field;
      keyPhase = false;
      continue;
    }
    line.fields.push_back(field);
    keyPhase = false;
    if (end == ',') {
      continue;
    }
    if (end == ';') {
      s->SkipToLineEnd();
    }
    break;
  }
  if (!line.hasKey && line.fields.size() == 1) {
    line.hasKey = true; // a lone field is found by its own text
    line.key = line.fields[0];
  }
  section->lines.push_back(line);
}

bool HasWindows4Signature(const InfFile& inf) {
  int version = FindInfSection(inf, "Version");
  if (version < 0) {
    return false;
  }
  for (const InfLine& line : inf.sections[version].lines) {
    if (line.hasKey && SameName(line.key, "Signature")) {
      // Only the first Signature line counts, and its text is taken as written.
      return !line.fields.empty() &&
             (SameName(line.fields[0], "$Chicago$") || SameName(line.fields[0], "$Windows NT$") ||
              SameName(line.fields[0], "$Windows 95$"));
    }
  }
  return false;
}

void Refuse(InfFile* inf, InfStatus status, int line) {
  inf->status = status;
  inf->errorLine = line;
  inf->sections.clear();
  inf->stringsSection = -1;
}

} // namespace

namespace {

// The platform reads every file as wide characters and hands text back in the ANSI code page
// (1252): these are its bytes 0x80 to 0x9F.
const unsigned short kCodePageHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Appends one UTF-16 unit in the code page, noting where the bytes came from and what was lost.
void AppendNarrow(std::string* text, unsigned int unit, size_t from, TextOrigin* origin) {
  size_t start = text->size();
  bool kept = true;
  if (NarrowUnitFunction narrow = CodePageNarrowing()) {
    kept = narrow(unit, text);
  } else if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    text->push_back((char)unit);
  } else {
    unsigned int i = 0;
    while (i < 32 && kCodePageHigh[i] != unit) {
      ++i;
    }
    // The widest blanks become blanks; anything else the code page lacks becomes "?".
    bool blank = unit == 0x3000 || (unit >= 0x2000 && unit <= 0x2006);
    kept = i < 32 || blank;
    text->push_back(i < 32 ? (char)(0x80 + i) : blank ? ' ' : '?');
  }
  if (origin != nullptr) {
    if (origin->mapBytes) {
      origin->from.resize(text->size(), from);
    }
    if (!kept) {
      origin->lost.push_back(start);
    }
  }
}

std::string NarrowUtf16(const unsigned char* bytes, size_t size, size_t skipped = 0,
                        TextOrigin* origin = nullptr) {
  std::string text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    AppendNarrow(&text, bytes[i] | (bytes[i + 1] << 8), skipped + i, origin);
  }
  return text;
}

bool IsUtf8(const unsigned char* bytes, size_t size) {
  for (size_t i = 0; i < size;) {
    unsigned int c = bytes[i++];
    size_t length = c < 0x80                 ? 0
                    : c >= 0xC2 && c <= 0xDF ? 1
                    : c >= 0xE0 && c <= 0xEF ? 2
                    : c >= 0xF0 && c <= 0xF4 ? 3
                                             : 4;
    if (length == 4 || i + length > size) {
      return false;
    }
    for (; length > 0; --length) {
      if ((bytes[i++] & 0xC0) != 0x80) {
        return false;
      }
    }
  }
  return true;
}

bool StartsWith(const unsigned char* bytes, size_t size, const char* mark) {
  size_t length = strlen(mark);
  return size >= length && memcmp(bytes, mark, length) == 0;
}

// Whether Wine's INF reading takes the bytes for UTF-16: its statistical test on the first 256
// characters, where a zero byte in an even-sized file is enough but a zero character (two zero
// bytes at an even offset) rules it out.
bool LooksLikeUtf16(const unsigned char* bytes, size_t size) {
  if (size < 2 || (size & 1) != 0) {
    return false;
  }
  size_t length = bytes[size - 1] == 0 ? size - 1 : size;
  length /= 2;
  if (length > 256) {
    length = 256;
  }
  bool nullBytes = false, controls = false, reverse = false, zero = false;
  size_t small = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned int unit = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    small += unit <= 0xFF;
    nullBytes |= (unit & 0xFF) == 0 || (unit >> 8) == 0;
    controls |= unit == '\r' || unit == '\n' || unit == '\t' || unit == ' ' || unit == 0x3000;
    reverse |= unit == 0x0D00 || unit == 0x0A00 || unit == 0x0900 || unit == 0x2000;
    zero |= unit == 0;
  }
  unsigned int first = length > 0 ? bytes[0] | (bytes[1] << 8) : 0;
  if (reverse || zero || first == 0xFFFE) {
    return false;
  }
  return nullBytes || first == 0xFEFF || small > length / 2 || controls;
}

} // namespace

TextEncoding DetectEncoding(const char* data, size_t size) {
  const unsigned char* bytes = (const unsigned char*)data;
  if (StartsWith(bytes, size, "\xFF\xFE")) {
    return kEncodingUtf16;
  }
  if (StartsWith(bytes, size, "\xFE\xFF")) {
    return kEncodingUtf16BigEndian;
  }
  if (StartsWith(bytes, size, "\xEF\xBB\xBF")) {
    return kEncodingUtf8Mark;
  }
  if (LooksLikeUtf16(bytes, size)) {
    return kEncodingUtf16WithoutMark;
  }
  bool wide = std::any_of(bytes, bytes + size, [](unsigned char c) { return c >= 0x80; });
  return wide && IsUtf8(bytes, size) ? kEncodingUtf8WithoutMark : kEncodingAnsi;
}

bool WineReadsOtherwise(const char* data, size_t size) {
  switch (DetectEncoding(data, size)) {
  case kEncodingUtf16:
    return !LooksLikeUtf16((const unsigned char*)data, size);
  case kEncodingUtf8Mark:
    return size > 3;
  case kEncodingUtf16BigEndian:
  case kEncodingUtf16WithoutMark:
    return true;
  default:
    return false;
  }
}

std::string DecodeText(const char* data, size_t size, TextOrigin* origin) {
  const unsigned char* bytes = (const unsigned char*)data;
  std::string text;
  if (DetectEncoding(data, size) == kEncodingUtf16) {
    if (origin != nullptr) {
      origin->utf16 = true;
    }
    text = NarrowUtf16(bytes + 2, size - 2, 2, origin);
  } else {
    text.assign(data, size);
    for (size_t i = 0; origin != nullptr && origin->mapBytes && i < size; ++i) {
      origin->from.push_back(i);
    }
  }
  if (origin != nullptr && origin->mapBytes) {
    origin->from.push_back(size);
  }
  return text;
}

void ReadInf(const char* data, size_t size, InfFile* inf) {
  inf->status = kInfOpened;
  inf->errorLine = 0;
  inf->sections.clear();
  inf->stringsSection = -1;
  inf->lostLines.clear();
  if (size == 0) {
    Refuse(inf, kInfEmpty, 0);
    return;
  }
  TextOrigin origin;
  std::string text = DecodeText(data, size, &origin);
  for (size_t lost : origin.lost) {
    int line = 1 + (int)std::count(text.begin(), text.begin() + lost, '\n');
    if (inf->lostLines.empty() || inf->lostLines.back() != line) {
      inf->lostLines.push_back(line);
    }
  }
  Scanner s{text, 0, 1};
  std::unordered_map<std::string, int> byName;
  int current = -1;
  int textBeforeSection = 0;
  while (!s.AtEnd(s.pos)) {
    char c = text[s.pos];
    if (c == '\n') {
      ++s.lineNumber;
      ++s.pos;
    } else if (c == ';') {
      s.SkipToLineEnd();
    } else if (c == '[') {
      size_t close = s.pos + 1;
      while (!s.AtLineEnd(close) && text[close] != ']') {
        close += CharBytes(text, close);
      }
      if (s.AtLineEnd(close)) {
        Refuse(inf, kInfUnclosedSection, s.lineNumber);
        return;
      }
      std::string name;
      AppendCapped(&name, text, s.pos + 1, close);
      if (CharCount(name) > kInfSectionNameLimit) {
        Refuse(inf, kInfSectionNameTooLong, s.lineNumber);
        return;
      }
      auto found = byName.find(LowerName(name));
      if (found != byName.end()) {
        current = found->second;
      } else {
        current = (int)inf->sections.size();
        byName[LowerName(name)] = current;
        inf->sections.push_back(InfSection{name, s.lineNumber, {}});
      }
      s.pos = close + 1;
      s.SkipToLineEnd(); // the rest of a header line is ignored
    } else if (IsSpace(c)) {
      ++s.pos;
    } else if (current < 0) {
      // Text before the first section is skipped character by character, so a "[" later on
      // the same line still opens a section.
      if (textBeforeSection == 0) {
        textBeforeSection = s.lineNumber;
      }
      s.pos += CharBytes(text, s.pos);
    } else {
      ReadLine(&s, &inf->sections[current]);
    }
  }
  inf->stringsSection = FindInfSection(*inf, "Strings");
  if (inf->stringsSection < 0 && textBeforeSection != 0) {
    Refuse(inf, kInfTextBeforeSection, textBeforeSection);
    return;
  }
  if (!HasWindows4Signature(*inf)) {
    Refuse(inf, kInfNoSignature, 0);
  }
}

int FindInfSection(const InfFile& inf, const char* name) {
  for (size_t i = 0; i < inf.sections.size(); ++i) {
    if (SameName(inf.sections[i].name, name)) {
      return (int)i;
    }
  }
  return -1;
}

namespace {

// A directory id is a whole decimal number, perhaps after blanks and a sign.
bool ParseDirectoryId(const std::string& name, long* id) {
  size_t i = 0;
  while (i < name.size() && IsSpace(name[i])) {
    ++i;
  }
  bool negative = false;
  if (i < name.size() && (name[i] == '+' || name[i] == '-')) {
    negative = name[i] == '-';
    ++i;
  }
  size_t digits = i;
  long value = 0;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    value = value > 100000000L ? 100000000L : value * 10 + (name[i] - '0'); // large ids are unknown
  }
  if (i == digits || i != name.size()) {
    return false;
  }
  *id = negative ? -value : value;
  return true;
}

// The replacement for %name%, or false to keep the text as written.
bool FindSubstitution(const InfFile& inf, const std::string& name, bool beforeSeparator,
                      std::string* value) {
  if (name.empty()) {
    *value = "%";
    return true;
  }
  if (inf.stringsSection >= 0) {
    for (const InfLine& line : inf.sections[inf.stringsSection].lines) {
      if (line.hasKey && SameName(line.key, name.c_str())) {
        if (line.fields.empty()) {
          break;
        }
        *value = line.fields[0]; // taken as written: no second round of substitution
        return true;
      }
    }
  }
  long id = 0;
  if (!ParseDirectoryId(name, &id)) {
    return false;
  }
  auto bound = inf.boundIds.find(id);
  if (id == 1) {
    *value = inf.folder;
  } else if (bound != inf.boundIds.end()) {
    *value = bound->second;
  } else {
    return false;
  }
  if (beforeSeparator && EndsWithChar(*value, '\\')) {
    value->pop_back();
  }
  return true;
}

} // namespace

std::string SubstituteField(const InfFile& inf, const std::string& field) {
  if (field.find('%') == std::string::npos) {
    return field;
  }
  std::string out;
  size_t start = 0;
  bool inside = false;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      continue;
    }
    inside = !inside;
    if (inside) {
      out.append(field, start, i - start);
      start = i;
    } else {
      std::string name = field.substr(start + 1, i - start - 1);
      std::string value;
      bool beforeSeparator = i + 1 < field.size() && field[i + 1] == '\\';
      if (FindSubstitution(inf, name, beforeSeparator, &value)) {
        out += value;
      } else {
        out.append(field, start, i - start + 1);
      }
      start = i + 1;
    }
    if (out.size() > 2 * kInfSubstitutedLimit) {
      break;
    }
  }
  if (start < field.size() && out.size() <= 2 * kInfSubstitutedLimit) {
    out.append(field, start, std::string::npos); // an unclosed %name stays as written
  }
  CutToChars(&out, kInfSubstitutedLimit);
  return out;
}

std::string InfLineText(const InfFile& inf, const InfLine& line) {
  std::string text;
  for (size_t i = 0; i < line.fields.size(); ++i) {
    if (i > 0) {
      text.push_back(',');
    }
    text += SubstituteField(inf, line.fields[i]);
  }
  return text;
}

// ---- The INI view -----------------------------------------------------------------------------

namespace {

// Only ASCII blanks here, and the old end-of-file mark.
bool IsIniSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == kControlZ;
}

// The single keys go by the UTF-16LE mark alone: a UTF-8 mark, or the big-endian one, is read
// as code page text.
std::string DecodeIniText(const char* data, size_t size) {
  if (DetectEncoding(data, size) == kEncodingUtf16) {
    return NarrowUtf16((const unsigned char*)data + 2, size - 2);
  }
  return std::string(data, size);
}

// Names and values end at a zero byte, as the platform compares and copies them.
std::string UpToZero(const std::string& text, size_t from, size_t to) {
  size_t end = from;
  while (end < to && text[end] != '\0') {
    ++end;
  }
  return text.substr(from, end - from);
}

} // namespace

void ReadIni(const char* data, size_t size, IniFile* ini) {
  ini->sections.clear();
  ini->sections.push_back(IniSection{"", 0, {}});
  std::string text = DecodeIniText(data, size);
  int lineNumber = 1;
  size_t next = 0;
  bool previousNamed = true; // whether the key before had a name
  while (next < text.size()) {
    // A line ends at CR or LF alone as well; the numbers count LF, as editors show them.
    size_t start = next;
    size_t newline = text.find_first_of("\r\n", start);
    next = newline == std::string::npos ? text.size() : newline;
    size_t end = next;
    for (; next < text.size() && (text[next] == '\r' || text[next] == '\n'); ++next) {
    }
    int keyLine = lineNumber;
    for (size_t i = start; i < next; ++i) {
      lineNumber += text[i] == '\n';
    }
    while (start < end && IsIniSpace(text[start])) {
      ++start;
    }
    while (end > start && (text[end - 1] == '\n' || IsIniSpace(text[end - 1]))) {
      --end;
    }
    if (start >= end) {
      continue;
    }
    if (text[start] == '[') {
      size_t close = text.rfind(']', end - 1);
      if (close != std::string::npos && close > start) {
        size_t nameStart = start + 1;
        size_t nameEnd = close;
        while (nameStart < nameEnd && IsIniSpace(text[nameStart])) {
          ++nameStart;
        }
        while (nameEnd > nameStart && IsIniSpace(text[nameEnd - 1])) {
          --nameEnd;
        }
        ini->sections.push_back(IniSection{UpToZero(text, nameStart, nameEnd), keyLine, {}});
        previousNamed = true;
        continue;
      }
    }
    IniKey key;
    key.lineNumber = keyLine;
    size_t equals = text.find('=', start);
    if (equals != std::string::npos && equals < end) {
      size_t nameEnd = equals;
      while (nameEnd > start && IsIniSpace(text[nameEnd - 1])) {
        --nameEnd;
      }
      size_t valueStart = equals + 1;
      while (valueStart < end && IsIniSpace(text[valueStart])) {
        ++valueStart;
      }
      key.name = UpToZero(text, start, nameEnd);
      key.hasValue = true;
      key.value = UpToZero(text, valueStart, end);
      if (nameEnd == start && !previousNamed) {
        continue; // a run of nameless keys keeps only its first
      }
      previousNamed = nameEnd > start;
    } else {
      key.name = UpToZero(text, start, end);
      key.hasValue = false;
      previousNamed = true;
    }
    ini->sections.back().keys.push_back(key);
  }
}

// The platform trims the names it is asked for, not only those it reads.
static std::string TrimmedName(const char* name) {
  std::string text = name;
  size_t start = 0;
  while (start < text.size() && IsIniSpace(text[start])) {
    ++start;
  }
  size_t end = text.size();
  while (end > start && IsIniSpace(text[end - 1])) {
    --end;
  }
  return text.substr(start, end - start);
}

const IniSection* FindIniSection(const IniFile& ini, const char* section) {
  std::string wanted = TrimmedName(section);
  for (const IniSection& candidate : ini.sections) {
    if (!candidate.name.empty() && SameName(candidate.name, wanted.c_str())) {
      return &candidate;
    }
  }
  return nullptr;
}

const IniKey* FindIniKey(const IniFile& ini, const char* section, const char* key) {
  const IniSection* found = FindIniSection(ini, section);
  if (found == nullptr) {
    return nullptr;
  }
  std::string wanted = TrimmedName(key);
  for (const IniKey& candidate : found->keys) {
    if (SameName(candidate.name, wanted.c_str())) {
      return &candidate;
    }
  }
  return nullptr;
}

std::string IniValueText(const IniKey* key, size_t bufferSize, size_t* fullLength) {
  if (fullLength != nullptr) {
    *fullLength = 0;
  }
  if (key == nullptr || !key->hasValue || bufferSize == 0) {
    return std::string();
  }
  const std::string& value = key->value;
  size_t skip = 0;
  bool quoted = false;
  if (value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    skip = 1;
    quoted = true;
  }
  size_t rest = value.size() - skip;
  std::string text = value.substr(skip, bufferSize - 1);
  // The closing quote is dropped only when the value was not cut, and then from what was copied,
  // so a value that only just does not fit loses its last character as well.
  if (quoted && bufferSize >= rest && !text.empty()) {
    text.pop_back();
  }
  if (fullLength != nullptr) {
    *fullLength = quoted ? rest - 1 : rest;
  }
  return text;
}
