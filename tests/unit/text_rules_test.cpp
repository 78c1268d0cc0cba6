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

// In a double-byte code page a lead byte and its trail byte are one character; the trail byte
// may be 0x5C ("\") or an ASCII letter. The same rules, with the lead bytes of 932 and 950.
class DoubleByte {
public:
  explicit DoubleByte(int codePage) {
    SetLeadByteRanges(KnownLeadByteRanges(codePage), 6);
  }
  ~DoubleByte() {
    SetLeadByteRanges(NULL, 0);
  }
};

TEST(DoubleByteText, PathsAreCutJoinedAndComparedByCharacter) {
  struct Case {
    int codePage;
    const char* folder; // ends in a character whose trail byte is 0x5C
    const char* a;      // two names that differ only in a trail byte's letter case
    const char* b;
  } cases[] = {
      {932, "C:\\\x83\x5C\x83\x74\x83\x67\x95\x5C", "\x83\x41", "\x83\x61"}, // ソフト表, ア, ヂ
      {950, "C:\\\xB3\x5C\xA5\x5C\xBB\x5C", "\xA4\x41", "\xA4\x61"},         // 許功蓋, 乙, 兀
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    DoubleByte mode(c.codePage);
    const std::string folder = c.folder;
    char path[64];
    JoinPathOnce(path, sizeof path, c.folder, "x.txt");
    EXPECT_EQ(folder + "\\x.txt", path);
    CutAtLastSeparator(path);
    EXPECT_EQ(folder, path);
    CutAtLastSeparator(path);
    EXPECT_STREQ("C:", path);
    EXPECT_FALSE(
        EqualIgnoringAsciiCase((folder + "\\" + c.a).c_str(), (folder + "\\" + c.b).c_str()));
    EXPECT_TRUE(EqualIgnoringAsciiCase((folder + "\\Data").c_str(), (folder + "\\dATA").c_str()));
    // Cuts fall between characters: "C:\" and one character need 6 bytes with the terminator.
    EXPECT_EQ(0, CopyText(path, 5, c.folder));
    EXPECT_STREQ("C:\\", path);
    EXPECT_EQ(0, FormatText(path, 7, "%s%s", c.a, c.folder));
    EXPECT_EQ(std::string(c.a) + "C:\\", path);
    EXPECT_EQ(0, SplitGroupLine((std::string(c.a) + c.b + ",s").c_str(), path, 4, path + 8, 8));
    EXPECT_STREQ(c.a, path);
    CopyCharacters(path, sizeof path, c.folder + 3, 2);
    EXPECT_EQ(folder.substr(3, 4), path);
    EXPECT_EQ(3u + (folder.size() - 3) / 2, CountCharacters(c.folder));
    // The typed folder: its last level and its drive form.
    char typed[64];
    CopyText(typed, sizeof typed, c.folder);
    RemoveTrailingSeparator(typed);
    EXPECT_EQ(folder, typed);
    AppendText(typed, sizeof typed, "\\");
    RemoveTrailingSeparator(typed);
    EXPECT_EQ(folder, typed);
    DropIncompleteCharacter(typed); // a whole last character stays
    EXPECT_EQ(folder, typed);
    AppendText(typed, sizeof typed, std::string(c.a, 1).c_str());
    DropIncompleteCharacter(typed); // a lead byte without its trail byte goes
    EXPECT_EQ(folder, typed);
    EXPECT_EQ(4u, DrivePrefixLength((std::string(c.a) + ":\\x").c_str()));
    EXPECT_EQ(0u, DrivePrefixLength(c.a));
    // The file's own name counts from the last real separator: here the folder's last level.
    char name[300];
    const std::string own = folder + std::string(255 - 8 - (folder.size() - 3), 'n');
    EXPECT_EQ(1, ReplacementName(name, sizeof name, own.c_str()));
    EXPECT_EQ(0, ReplacementName(name, sizeof name, (own + "n").c_str()));
  }
  // The same bytes in a single-byte code page: every byte is a character.
  char path[32];
  JoinPathOnce(path, sizeof path, "C:\\\x95\x5C", "x");
  EXPECT_STREQ("C:\\\x95\x5Cx", path);
  EXPECT_TRUE(EqualIgnoringAsciiCase("\x83\x41", "\x83\x61"));
}
