// The code page's tables come from the platform: iconv on Linux, the system's own conversions on
// Windows. Only the UTF-16 narrowing is kept in a table of its own, made once, since the INF
// reading asks for it a character at a time.
#include "code_page.h"

#include <stdint.h>
#include <stdio.h>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <iconv.h>
#endif

namespace {

const uint16_t kNoCharacter = 0xFFFF; // a unit the code page lacks
unsigned int selected = kDefaultCodePage;
std::vector<uint16_t> narrowTable; // UTF-16 unit -> the character's bytes, lead byte high

bool IsAnsiCodePage(unsigned int codePage) {
  return codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 ||
         codePage == 950 || (codePage >= 1250 && codePage <= 1258);
}

bool NarrowFromTable(unsigned int unit, std::string* out) {
  uint16_t bytes = unit < narrowTable.size() ? narrowTable[unit] : kNoCharacter;
  if (bytes == kNoCharacter) {
    out->push_back('?');
    return false;
  }
  if (bytes > 0xFF) {
    out->push_back((char)(bytes >> 8));
  }
  out->push_back((char)(bytes & 0xFF));
  return true;
}

#ifdef _WIN32

std::u16string ToWide(unsigned int codePage, const std::string& text) {
  int length = MultiByteToWideChar(codePage, 0, text.data(), (int)text.size(), NULL, 0);
  std::u16string wide(length > 0 ? length : 0, u'\0');
  if (length > 0) {
    MultiByteToWideChar(codePage, 0, text.data(), (int)text.size(), (wchar_t*)&wide[0], length);
  }
  return wide;
}

// False when a character had to be replaced (UTF-8 holds every one).
bool FromWide(unsigned int codePage, const std::u16string& wide, std::string* out) {
  BOOL replaced = FALSE;
  BOOL* asked = codePage == CP_UTF8 ? NULL : &replaced;
  const wchar_t* units = (const wchar_t*)wide.data();
  int length = WideCharToMultiByte(codePage, 0, units, (int)wide.size(), NULL, 0, NULL, asked);
  out->assign(length > 0 ? length : 0, '\0');
  if (length > 0) {
    WideCharToMultiByte(codePage, 0, units, (int)wide.size(), &(*out)[0], length, NULL, asked);
  }
  return !replaced;
}

bool FindLeadBytes(unsigned int codePage, unsigned char lead[256]) {
  for (int c = 0; c < 256; ++c) {
    lead[c] = IsDBCSLeadByteEx(codePage, (BYTE)c) ? 1 : 0;
  }
  return IsValidCodePage(codePage) != FALSE;
}

std::string HostFromWide(const std::u16string& wide) {
  std::string host;
  FromWide(CP_UTF8, wide, &host);
  return host;
}

std::u16string WideFromHost(const std::string& host) {
  return ToWide(CP_UTF8, host);
}

#else

std::string IconvName(unsigned int codePage) {
  char name[16];
  snprintf(name, sizeof name, "CP%u", codePage);
  return name;
}

// Converts with iconv, a character the target lacks (or a broken one) becoming "?". False when
// that happened or the conversion is unknown.
bool Convert(const std::string& from, const std::string& to, size_t unit, const std::string& in,
             std::string* out) {
  out->clear();
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == (iconv_t)-1) {
    return false;
  }
  bool whole = true;
  char* input = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  std::string question = to == "UTF-16LE" ? std::string("?\0", 2) : "?";
  char buffer[256];
  while (inLeft > 0) {
    char* output = buffer;
    size_t outLeft = sizeof buffer;
    size_t done = iconv(cd, &input, &inLeft, &output, &outLeft);
    out->append(buffer, output - buffer);
    if (done == (size_t)-1 && errno != E2BIG) {
      whole = false;
      *out += question;
      size_t skip = inLeft < unit ? inLeft : unit;
      input += skip;
      inLeft -= skip;
    }
  }
  iconv_close(cd);
  return whole;
}

std::u16string ToWide(unsigned int codePage, const std::string& text) {
  std::string bytes;
  Convert(IconvName(codePage), "UTF-16LE", 1, text, &bytes);
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    wide.push_back((char16_t)((unsigned char)bytes[i] | (unsigned char)bytes[i + 1] << 8));
  }
  return wide;
}

std::string WideBytes(const std::u16string& wide) {
  std::string bytes;
  for (char16_t unit : wide) {
    bytes.push_back((char)(unit & 0xFF));
    bytes.push_back((char)(unit >> 8));
  }
  return bytes;
}

bool FromWide(unsigned int codePage, const std::u16string& wide, std::string* out) {
  return Convert("UTF-16LE", IconvName(codePage), 2, WideBytes(wide), out);
}

// A lead byte is one that iconv finds incomplete on its own.
bool FindLeadBytes(unsigned int codePage, unsigned char lead[256]) {
  iconv_t cd = iconv_open("UTF-16LE", IconvName(codePage).c_str());
  if (cd == (iconv_t)-1) {
    return false;
  }
  for (int c = 0; c < 256; ++c) {
    char byte = (char)c;
    char* input = &byte;
    size_t inLeft = 1;
    char wide[8];
    char* output = wide;
    size_t outLeft = sizeof wide;
    lead[c] = iconv(cd, &input, &inLeft, &output, &outLeft) == (size_t)-1 && errno == EINVAL;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return true;
}

std::string HostFromWide(const std::u16string& wide) {
  std::string host;
  Convert("UTF-16LE", "UTF-8", 2, WideBytes(wide), &host);
  return host;
}

std::u16string WideFromHost(const std::string& host) {
  std::string bytes;
  Convert("UTF-8", "UTF-16LE", 1, host, &bytes);
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    wide.push_back((char16_t)((unsigned char)bytes[i] | (unsigned char)bytes[i + 1] << 8));
  }
  return wide;
}

#endif

void MakeNarrowTable(unsigned int codePage) {
  narrowTable.assign(0x10000, kNoCharacter);
  for (unsigned int unit = 0; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit < 0xE000) {
      continue; // half of a pair: never a character on its own
    }
    std::string bytes;
    if (FromWide(codePage, std::u16string(1, (char16_t)unit), &bytes) && !bytes.empty() &&
        bytes.size() <= 2) {
      narrowTable[unit] = bytes.size() == 1
                              ? (uint8_t)bytes[0]
                              : (uint16_t)((uint8_t)bytes[0] << 8 | (uint8_t)bytes[1]);
    }
  }
}

// The lead bytes as ranges of first and last byte, ended by a zero pair.
std::vector<unsigned char> LeadRanges(const unsigned char lead[256]) {
  std::vector<unsigned char> ranges;
  for (int c = 1; c < 256; ++c) {
    if (lead[c] && !lead[c - 1]) {
      ranges.push_back((unsigned char)c);
    }
    if (lead[c] && (c == 255 || !lead[c + 1])) {
      ranges.push_back((unsigned char)c);
    }
  }
  ranges.push_back(0);
  ranges.push_back(0);
  return ranges;
}

} // namespace

bool SelectCodePage(unsigned int codePage, std::string* problem) {
  unsigned char lead[256] = {};
  if (!IsAnsiCodePage(codePage)) {
    *problem = "--codepage takes an ANSI code page of Windows: 874, 932, 936, 949, 950 or 1250 "
               "to 1258";
    return false;
  }
  if (!FindLeadBytes(codePage, lead)) {
    *problem = "code page " + std::to_string(codePage) + " has no table on this system";
    return false;
  }
  selected = codePage;
  std::vector<unsigned char> ranges = LeadRanges(lead);
  if (codePage == kDefaultCodePage) {
    // The built-in table, with the platform's near characters.
    SetCodePageRules(ranges.data(), nullptr);
  } else {
    MakeNarrowTable(codePage);
    SetCodePageRules(ranges.data(), NarrowFromTable);
  }
  return true;
}

unsigned int SelectedCodePage() {
  return selected;
}

std::u16string Widened(const std::string& text) {
  return ToWide(selected, text);
}

static bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) {
      return false;
    }
  }
  return true;
}

std::string HostName(const std::string& name) {
  return IsAscii(name) ? name : HostFromWide(ToWide(selected, name));
}

bool CodePageName(const std::string& host, std::string* name) {
  if (IsAscii(host)) {
    *name = host;
    return true;
  }
  return FromWide(selected, WideFromHost(host), name);
}

std::string Shown(const std::string& text) {
  return HostName(text);
}

std::string HostArgument(const char* argument) {
#ifdef _WIN32
  return HostFromWide(ToWide(CP_ACP, argument));
#else
  return argument;
#endif
}
