// The ANSI code page of the system setup.exe runs on, which setupcheck reads SETUP.DAT in. In the
// double-byte code pages (932, 936, 949, 950) a lead byte and its trail byte make one character,
// and the trail byte may be 0x5C ("\") or an ASCII letter: names are scanned, cut and folded by
// character, and only single-byte ASCII letters are folded.
#pragma once

#include <stddef.h>

#include <string>

#include "setup_script/text_rules.h"

// ---- By character: portable, no platform calls (code_page_rules.cpp) --------------------------
// The lead bytes are the installer's own text rules' (IsLeadByte), set by SelectCodePage.

// Whether the selected code page has double-byte characters.
bool IsDoubleByteCodePage();

// The bytes of the character at text[at]: 2 for a lead byte with its trail byte, else 1.
size_t CharBytes(const std::string& text, size_t at);

// The first character at or after from (a character boundary) that is one of the ASCII
// characters in chars; npos when there is none.
size_t FindChar(const std::string& text, const char* chars, size_t from = 0);

// The last character that is one of the ASCII characters in chars; npos when there is none.
size_t FindLastChar(const std::string& text, const char* chars);

// The characters of text, a double-byte pair counted once.
size_t CharCount(const std::string& text);

// Cuts text after its first limit characters.
void CutToChars(std::string* text, size_t limit);

// Whether the last character of text is c (an ASCII character).
bool EndsWithChar(const std::string& text, char c);

// One UTF-16 code unit appended in the selected code page; false, with "?" appended, when the
// code page has no such character.
typedef bool (*NarrowUnitFunction)(unsigned int unit, std::string* out);

// Set by SelectCodePage: the lead bytes as ranges of first and last byte ended by a zero pair,
// and the narrowing of UTF-16 text, null for the built-in one of code page 1252.
void SetCodePageRules(const unsigned char* leadRanges, NarrowUnitFunction narrow);
NarrowUnitFunction CodePageNarrowing();

// ---- The platform's tables (code_page.cpp): iconv on Linux, the system's own on Windows --------

enum { kDefaultCodePage = 1252 };

// Reads names in codePage from now on. False, with the reason, for a code page that is not an
// ANSI code page of Windows or that the platform has no table for.
bool SelectCodePage(unsigned int codePage, std::string* problem);

unsigned int SelectedCodePage();

// Paths to files are kept in UTF-8 on every platform (the Windows build opens them through the
// wide functions), so a name the code page holds is found whatever the process's own one is.

// A name in the selected code page as a UTF-8 path.
std::string HostName(const std::string& name);

// A UTF-8 name in the selected code page; false when it has a character that code page lacks.
bool CodePageName(const std::string& host, std::string* name);

// A command-line argument as a UTF-8 path.
std::string HostArgument(const char* argument);

// Text in the selected code page as the program prints it: UTF-8, on every platform.
std::string Shown(const std::string& text);

// Text as UTF-16 code units, for JSON's \u escapes.
std::u16string Widened(const std::string& text);
