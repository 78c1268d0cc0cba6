// Text rules shared by the installer and its tools: bounded copies and formats, the split of a
// group line, path joining, SizeN parsing and megabyte texts. No Windows calls here, so the same
// code builds natively for fuzzing.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The number of characters before the terminating zero.
size_t TextLength(const char* text);

// Copies src into dest (size bytes, size > 0), always zero-terminated. Returns 1 when the whole
// text fitted, 0 when it was cut.
int CopyText(char* dest, size_t size, const char* src);

// Appends src to the text in dest, always zero-terminated. Returns 1 when the whole text fitted,
// 0 when it was cut (dest then holds as much as fits).
int AppendText(char* dest, size_t size, const char* src);

// Formats into dest with the conversions %s (const char*), %d (int) and %%. Anything else after a
// "%" is copied as it stands. Returns 1 when the whole text fitted, 0 when it was cut.
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

// Equality of two texts with the ASCII letters compared without regard to case.
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

// A typed folder passes when its second character is ":" and its third "\".
int HasDrivePrefix(const char* typed);

// Removes one trailing "\" if there is one.
void RemoveTrailingSeparator(char* path);
