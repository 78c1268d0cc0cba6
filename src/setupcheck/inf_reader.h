// SETUP.DAT as the installer's platform reads it: once as a Windows 4 style INF file (sections,
// lines of comma-separated fields, %key% substitution) and, key by key, as an INI file. Portable
// code with no Windows calls, so the checker and its fuzz target build anywhere.
#pragma once

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

enum {
  kInfFieldLimit = 511,        // characters, as every limit here; a longer field is cut
  kInfSectionNameLimit = 255,  // a longer section name refuses the whole file
  kInfSubstitutedLimit = 4097, // a field after substitution
  kLineTextLimit = 255,        // the installer reads line texts into 256 bytes
};

struct InfLine {
  int lineNumber;  // physical line (from 1) on which the INF line starts
  bool hasKey;     // "key=..." or a line of a single field, which is its own key
  bool keyWritten; // the key came before an "=" (it is then not part of the line text)
  std::string key;
  std::vector<std::string> fields; // as written, quotes resolved, before substitution
};

struct InfSection {
  std::string name;
  int lineNumber; // of its first header; later headers of the same name add to it
  std::vector<InfLine> lines;
};

enum InfStatus {
  kInfOpened,
  kInfEmpty,           // a file of no bytes cannot be mapped
  kInfUnclosedSection, // "[" without "]" on its line
  kInfSectionNameTooLong,
  kInfTextBeforeSection, // only refused when there is no [Strings] section
  kInfNoSignature,       // [Version] Signature is not one of the Windows 4 values
};

struct InfFile {
  InfStatus status = kInfOpened;
  int errorLine = 0; // 0 when the problem has no line of its own
  std::vector<InfSection> sections;
  int stringsSection = -1;
  std::string folder; // what %1% stands for: the INF's folder with its trailing "\"
  std::map<long, std::string> boundIds; // directory ids bound to folders, as %65600% is
  std::vector<int> lostLines;           // lines with characters the code page lacks, read as "?"
};

// Where the bytes of a decoded text came from.
struct TextOrigin {
  bool mapBytes = false;    // fill from (one entry a byte)
  bool utf16 = false;       // the file was read as UTF-16
  std::vector<size_t> from; // for each byte of the text, and its end: its offset in the file
  std::vector<size_t> lost; // offsets in the text of the characters the code page lacks ("?")
};

// How the bytes are taken. Windows reads a file that starts with the UTF-16LE mark (FF FE) as
// UTF-16, and every other file in the ANSI code page, for the INF and the single keys alike.
enum TextEncoding {
  kEncodingAnsi,
  kEncodingUtf16,            // UTF-16LE with its mark
  kEncodingUtf8WithoutMark,  // valid UTF-8 with non-ASCII bytes, read in the code page all the same
  kEncodingUtf8Mark,         // EF BB BF: the mark's bytes are text of the first line
  kEncodingUtf16BigEndian,   // FE FF: read as code page text, of which nothing is found
  kEncodingUtf16WithoutMark, // zero bytes in an even-sized file, as Wine tells UTF-16 without a
                             // mark
};
TextEncoding DetectEncoding(const char* data, size_t size);

// Whether Wine takes the bytes otherwise than Windows: UTF-8 after its mark, UTF-16 by its
// statistics rather than by the mark, big-endian UTF-16 for the single keys.
bool WineReadsOtherwise(const char* data, size_t size);

// The bytes of a text file in the ANSI code page, as Windows reads it: UTF-16LE after its mark is
// narrowed (a character the code page lacks becomes "?"), anything else stays as it is. origin
// may be null.
std::string DecodeText(const char* data, size_t size, TextOrigin* origin = nullptr);

// Parses data as the Setup API does when opening with INF_STYLE_WIN4.
void ReadInf(const char* data, size_t size, InfFile* inf);

// Index of the section, names compared without regard to ASCII case; -1 when missing.
int FindInfSection(const InfFile& inf, const char* name);

// One field after %key% substitution from [Strings] ("%%" gives "%", %1% the INF's folder, a
// bound id its folder; unknown keys and other directory ids stay as written).
std::string SubstituteField(const InfFile& inf, const std::string& field);

// The line text SetupGetLineTextA returns: the fields after substitution, joined by commas
// (the key is not part of it).
std::string InfLineText(const InfFile& inf, const InfLine& line);

// ---- The INI view -----------------------------------------------------------------------------

struct IniKey {
  std::string name;
  bool hasValue; // a line without "=" is a key with no value
  std::string value;
  int lineNumber;
};

struct IniSection {
  std::string name;
  int lineNumber;
  std::vector<IniKey> keys;
};

struct IniFile {
  std::vector<IniSection> sections; // the first holds the keys before any header (never found)
};

void ReadIni(const char* data, size_t size, IniFile* ini);

// The first section of that name, and in it the first key of that name (both without regard to
// ASCII case); a key in a later section of the same name is never found.
const IniSection* FindIniSection(const IniFile& ini, const char* section);
const IniKey* FindIniKey(const IniFile& ini, const char* section, const char* key);

// What GetPrivateProfileStringA gives for the key with an empty default and a buffer of
// bufferSize bytes: surrounding quotes removed, cut to fit. *fullLength (may be null) receives the
// length the value has before the cut.
std::string IniValueText(const IniKey* key, size_t bufferSize, size_t* fullLength);
