// Text rules shared by the installer and its tools: bounded copies and formats, the split of a
// group line, path joining, SizeN parsing and megabyte texts. No Windows calls here, so the same
// code builds natively for fuzzing.
//
// Texts are in the system's ANSI code page. In a double-byte one (932, 936, 949, 950) a lead byte
// and the byte after it are one character, and that second byte may be 0x5C ("\") or an ASCII
// letter; so every scan, cut and comparison here goes by character. Which bytes lead is set once
// at start; until then every byte is a character of its own, as in the single-byte code pages.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Sets the lead bytes from ranges of first and last byte, ended by a zero pair or after size
// bytes (the form the platform reports them in). NULL or no range: a single-byte code page.
void SetLeadByteRanges(const unsigned char* ranges, size_t size);

// The lead-byte ranges of the double-byte code pages 932, 936, 949 and 950, in
// kLeadByteRangesSize bytes ended by a zero pair; NULL for any other code page.
enum { kLeadByteRangesSize = 12 }; // as the platform reports them
const unsigned char* KnownLeadByteRanges(int codePage);

int IsLeadByte(char c);

// The bytes of the character at text: 2 for a lead byte with its trail byte, else 1 (also for a
// lead byte right before the terminating zero, and for the terminating zero itself).
size_t CharacterSize(const char* text);

// Copies the first count characters of src (fewer when it is shorter) into dest, cut to size like
// CopyText. Returns 1 when they fitted.
int CopyCharacters(char* dest, size_t size, const char* src, size_t count);

// The number of characters before the terminating zero.
size_t CountCharacters(const char* text);

// The last "\" of path (one that is a character, not a trail byte), or NULL.
const char* FindLastSeparator(const char* path);

// The number of bytes before the terminating zero.
size_t TextLength(const char* text);

// Copies src into dest (size bytes, size > 0), always zero-terminated. Returns 1 when the whole
// text fitted, 0 when it was cut. A cut falls between two characters, never inside one.
int CopyText(char* dest, size_t size, const char* src);

// Appends src to the text in dest, always zero-terminated. Returns 1 when the whole text fitted,
// 0 when it was cut (dest then holds as much as fits).
int AppendText(char* dest, size_t size, const char* src);

// Removes a last lead byte that has no trail byte.
void DropIncompleteCharacter(char* text);

// Formats into dest with the conversions %s (const char*), %d (int) and %%. Anything else after a
// "%" is copied as it stands. Returns 1 when the whole text fitted, 0 when it was cut; a cut
// falls between two characters of an argument, and nothing follows it.
int FormatText(char* dest, size_t size, const char* format, ...);

// Splits a group line at its first comma: the text before is the target, the text after the
// source; without a comma both are the whole line. Returns 1 when both fitted, 0 when one was cut.
int SplitGroupLine(const char* line, char* target, size_t targetSize, char* source,
                   size_t sourceSize);

// folder + "\" + name, the separator added only when folder does not already end with one.
int JoinPathOnce(char* dest, size_t size, const char* folder, const char* name);

// folder + "\" + name, always with the separator (a folder ending in "\" gives a doubled one).
int JoinPathAlways(char* dest, size_t size, const char* folder, const char* name);

// Ends path at its last "\", looking from the last character down to the second; the first
// character is never tested. Without one the path stays whole.
void CutAtLastSeparator(char* path);

// The name a replacement is copied to before it takes the target's place: the target's own path
// with ".kvs-new" added. Returns 0, and no name, when that does not fit size or would make the
// file's own name longer than the 255 characters a file system allows.
int ReplacementName(char* dest, size_t size, const char* target);

// Equality of two texts with the single-byte ASCII letters compared without regard to case
// (a trail byte is compared as it stands).
int EqualIgnoringAsciiCase(const char* a, const char* b);

// A cached SizeN value: leading white space, one optional sign, decimal digits up to the first
// other character. Wraps like a signed 32-bit count; no digits give 0.
int32_t ParseSizeValue(const char* text);

// value rounded to a 32-bit float. x87 code may keep a float in a wider register (GCC does so in
// C++ whatever -fexcess-precision says), which would skip the rounding the megabyte figures are
// defined by; a store to a volatile float cannot be skipped.
float StoreAsFloat(double value);

// The megabyte text of a byte count: "%0.0f MB" from 100 MB (exact count) upwards, "%0.2f MB"
// below; halves are rounded away from zero.
void FormatMegabytesText(char* text, size_t size, int32_t bytes);

// The free-space text: the same shapes, chosen on the float itself (100.0 and more: no decimals).
void FormatFreeSpaceText(char* text, size_t size, float megabytes);

// The drive form of a typed folder: any first character, then ":" and "\". Returns its length in
// bytes (3, or 4 after a double-byte first character), 0 when the text does not begin so.
size_t DrivePrefixLength(const char* typed);

// A group line's target that names a place outside the destination folder: empty, beginning
// with "\" or "/", holding ":" (a drive) or a ".." part ("/" separates parts as "\" does; a part
// of dots and blanks with two dots or more counts as ".."). Only what lies under the installed
// folder is recorded and removed again.
int NamesPlaceOutside(const char* target);

// The number of "\" characters in path.
size_t CountSeparators(const char* path);

// Removes one trailing "\" if there is one.
void RemoveTrailingSeparator(char* path);
