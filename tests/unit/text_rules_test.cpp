// The pure text rules: bounded copies and formats, the group-line split, SizeN parsing and the
// megabyte texts.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "setup_script/text_rules.h"

TEST(BoundedText, CopiesAppendAndFormatNeverPassTheirBuffer) {
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(1, CopyText(buffer, sizeof buffer, "1234567"));
  EXPECT_STREQ("1234567", buffer);
  EXPECT_EQ(0, CopyText(buffer, sizeof buffer, "123456789"));
  EXPECT_STREQ("1234567", buffer);
  CopyText(buffer, sizeof buffer, "abc");
  EXPECT_EQ(0, AppendText(buffer, sizeof buffer, "defgh"));
  EXPECT_STREQ("abcdefg", buffer);

  char guarded[16];
  memset(guarded, '#', sizeof guarded);
  EXPECT_EQ(0, FormatText(guarded, 6, "%s-%d", "abc", -1234));
  EXPECT_STREQ("abc--", guarded);
  EXPECT_EQ('#', guarded[6]); // nothing written past the given size
  EXPECT_EQ(1, FormatText(guarded, sizeof guarded, "Size%d %%", 2147483647 - 2147483647 + 3));
  EXPECT_STREQ("Size3 %", guarded);
  FormatText(guarded, sizeof guarded, "%d", (int)0x80000000u);
  EXPECT_STREQ("-2147483648", guarded);
}

TEST(GroupLines, SplitAtTheFirstComma) {
  struct Case {
    const char* line;
    const char* target;
    const char* source;
  } cases[] = {
      {"readme.txt", "readme.txt", "readme.txt"},
      {"docs\\guide.txt,manual\\guide_en.txt", "docs\\guide.txt", "manual\\guide_en.txt"},
      {"a.txt,b.txt,c.txt", "a.txt", "b.txt,c.txt"},
      {"Data\\Big.bin,Disk1\\Big.bin", "Data\\Big.bin", "Disk1\\Big.bin"},
      {",src", "", "src"},
      {"dst,", "dst", ""},
  };
  for (const Case& c : cases) {
    char target[256];
    char source[256];
    EXPECT_EQ(1, SplitGroupLine(c.line, target, sizeof target, source, sizeof source)) << c.line;
    EXPECT_STREQ(c.target, target) << c.line;
    EXPECT_STREQ(c.source, source) << c.line;
  }
  char small[4];
  char source[256];
  EXPECT_EQ(0, SplitGroupLine("longname,x", small, sizeof small, source, sizeof source));
  EXPECT_STREQ("lon", small);
}

TEST(Paths, JoiningAndCuttingFolders) {
  char path[32];
  JoinPathOnce(path, sizeof path, "D:\\", "x.txt");
  EXPECT_STREQ("D:\\x.txt", path);
  JoinPathOnce(path, sizeof path, "C:\\Apps", "x.txt");
  EXPECT_STREQ("C:\\Apps\\x.txt", path);
  JoinPathAlways(path, sizeof path, "D:\\", "x.txt");
  EXPECT_STREQ("D:\\\\x.txt", path);
  EXPECT_EQ(0, JoinPathAlways(path, 8, "C:\\Apps", "x.txt"));

  char folder[32] = "C:\\Apps\\docs\\guide.txt";
  CutAtLastSeparator(folder);
  EXPECT_STREQ("C:\\Apps\\docs", folder);
  char first[8] = "\\x";
  CutAtLastSeparator(first); // the first character is never tested
  EXPECT_STREQ("\\x", first);
  EXPECT_TRUE(EqualIgnoringAsciiCase("C:\\Apps\\Data", "c:\\apps\\DATA"));
  EXPECT_FALSE(EqualIgnoringAsciiCase("C:\\Apps\\Data", "C:\\Apps\\Dat"));

  // The replacement's name: the whole path and the file's own name (255) must both fit.
  char name[260];
  EXPECT_EQ(1, ReplacementName(name, sizeof name, "C:\\Apps\\KDemo.exe"));
  EXPECT_STREQ("C:\\Apps\\KDemo.exe.kvs-new", name);
  const std::string own247 = "C:\\" + std::string(247, 'n');
  EXPECT_EQ(1, ReplacementName(name, sizeof name, own247.c_str()));
  EXPECT_EQ(0, ReplacementName(name, sizeof name, (own247 + "n").c_str()));
  EXPECT_STREQ("", name);
  const std::string deep = "C:\\" + std::string(200, 'd') + "\\" + std::string(47, 'f');
  EXPECT_EQ(1, ReplacementName(name, sizeof name, deep.c_str())); // 259 characters
  EXPECT_EQ(0, ReplacementName(name, sizeof name, (deep + "f").c_str()));
}

// Targets that leave the destination are never recorded or removed; "/" separates like "\".
TEST(Paths, TargetsOutsideTheDestination) {
  struct Case {
    const char* target;
    int outside;
  } cases[] = {
      {"app.exe", 0},
      {"data\\song.mid", 0},
      {"data/song.mid", 0},
      {"a..b\\c", 0},
      {".\\x", 0},
      {"...x", 0},
      {"", 1},
      {"\\x", 1},
      {"/x", 1},
      {"C:x", 1},
      {"..", 1},
      {"..\\x", 1},
      {"../x/y.dll", 1},
      {"a/../../b", 1},
      {"a\\..", 1},
      {"a/..", 1},
      {"a/. ./b", 1},
      {"a\\...\\b", 1},
      {"a\\..  \\b", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.outside, NamesPlaceOutside(c.target)) << c.target;
  }
  // Code page 932: a trail byte 0x2F or 0x5C separates nothing.
  SetLeadByteRanges(KnownLeadByteRanges(932), kLeadByteRangesSize);
  EXPECT_EQ(0, NamesPlaceOutside("\x83\x2F..\x83\x5C.."));
  EXPECT_EQ(1, NamesPlaceOutside("\x83\x2F/.."));
  SetLeadByteRanges(NULL, 0);
  EXPECT_EQ(1, NamesPlaceOutside("\x83\x2F.."));
}

TEST(SizeValues, ParsedLikeTheCachedSize) {
  EXPECT_EQ(4096, ParseSizeValue("4096"));
  EXPECT_EQ(0, ParseSizeValue(""));
  EXPECT_EQ(0, ParseSizeValue("abc"));
  EXPECT_EQ(0, ParseSizeValue("0"));
  EXPECT_EQ(42, ParseSizeValue("42kb"));
  EXPECT_EQ(-5, ParseSizeValue("-5"));
  EXPECT_EQ(17, ParseSizeValue(" \t+17"));
  EXPECT_EQ(0, ParseSizeValue("+-3"));
  EXPECT_EQ(2147483647, ParseSizeValue("2147483647"));
  EXPECT_EQ((int32_t)0x80000000u, ParseSizeValue("2147483648")); // wraps, defined
  EXPECT_EQ(1, ParseSizeValue("4294967297"));
}

TEST(Megabytes, RoundHalvesAwayFromZero) {
  struct Case {
    int32_t bytes;
    const char* text;
  } cases[] = {
      {0, "0.00 MB"},
      {1048576, "1.00 MB"},
      {104857599, "100.00 MB"},
      {104857600, "100 MB"},
      {157286400, "150 MB"},
      {2147483647, "2048 MB"},
      {-1572864, "-1.50 MB"},
      {131072, "0.13 MB"},
      {115867648, "111 MB"},
      {(int32_t)0x80000000u, "-2048.00 MB"},
      // Rounded to a float first: 50.125 and 110.5 exactly, then away from zero.
      {52559871, "50.13 MB"},
      {115867647, "111 MB"},
  };
  for (const Case& c : cases) {
    char text[80];
    FormatMegabytesText(text, sizeof text, c.bytes);
    EXPECT_STREQ(c.text, text) << c.bytes;
  }
  char text[80];
  FormatFreeSpaceText(text, sizeof text, 100.0f);
  EXPECT_STREQ("100 MB", text);
  FormatFreeSpaceText(text, sizeof text, 99.5f);
  EXPECT_STREQ("99.50 MB", text);
  FormatFreeSpaceText(text, sizeof text, 1234.5f);
  EXPECT_STREQ("1235 MB", text);
  FormatFreeSpaceText(text, sizeof text, 0.0f);
  EXPECT_STREQ("0.00 MB", text);
  FormatFreeSpaceText(text, sizeof text, std::numeric_limits<float>::quiet_NaN());
  EXPECT_STREQ("0.00 MB", text); // no figure at all reads as nothing free
}

TEST(TypedFolders, DriveTestAndTrailingSeparator) {
  EXPECT_NE(0u, DrivePrefixLength("D:\\New"));
  EXPECT_NE(0u, DrivePrefixLength("1:\\X"));
  EXPECT_EQ(0u, DrivePrefixLength("Games"));
  EXPECT_EQ(0u, DrivePrefixLength("D:"));
  EXPECT_EQ(0u, DrivePrefixLength(""));
  char one[16] = "D:\\New\\";
  RemoveTrailingSeparator(one);
  EXPECT_STREQ("D:\\New", one);
  char two[16] = "D:\\New\\\\";
  RemoveTrailingSeparator(two);
  EXPECT_STREQ("D:\\New\\", two);
}

// Code page 932: a lead byte and its trail byte (0x5C, or a letter) are one character.
TEST(Paths, DoubleByteCharactersAreNeverSplit) {
  SetLeadByteRanges(KnownLeadByteRanges(932), kLeadByteRangesSize);
  const std::string folder = "C:\\\x83\x5C\x95\x5C"; // C:\ソ表
  char path[300];
  JoinPathOnce(path, sizeof path, folder.c_str(), "x");
  EXPECT_EQ(folder + "\\x", path);
  CutAtLastSeparator(path);
  RemoveTrailingSeparator(path);
  EXPECT_EQ(folder, path);
  EXPECT_FALSE(EqualIgnoringAsciiCase("\x83\x41", "\x83\x61")); // ア, ヂ
  EXPECT_EQ(0, FormatText(path, 6, "%s", folder.c_str()));
  EXPECT_STREQ("C:\\\x83\x5C", path);
  EXPECT_EQ(0, SplitGroupLine("\x95\x5C,x", path, 2, path + 8, 8));
  EXPECT_STREQ("", path);
  EXPECT_EQ(4u, DrivePrefixLength("\x83\x5C:\\x"));
  EXPECT_EQ(0, ReplacementName(path, sizeof path, (folder + std::string(244, 'n')).c_str()));
  CopyText(path, sizeof path, "C:\\\x95");
  DropIncompleteCharacter(path);
  EXPECT_STREQ("C:\\", path);
  SetLeadByteRanges(NULL, 0); // the same bytes in a single-byte code page
  EXPECT_EQ(1, ReplacementName(path, sizeof path, (folder + std::string(244, 'n')).c_str()));
}
