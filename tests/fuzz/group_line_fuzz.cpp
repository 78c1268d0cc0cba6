// The path steps of the copy engine and the disk-space walk: the split of a group line at its
// first comma, joining a folder and a name, cutting at the last separator, and the
// case-blind comparison of folders.
#include "fuzz_support.h"
#include "setup_script/text_rules.h"

namespace {

// The position of the first character of text that is what, or npos.
size_t FindCharacter(const CodePage& codePage, const std::string& text, const char* what) {
  size_t at = 0;
  for (const std::string& c : codePage.Characters(text)) {
    if (c == what) {
      return at;
    }
    at += c.size();
  }
  return std::string::npos;
}

void CheckSplit(FuzzInput& in) {
  HeapBlock target(in.BufferSize());
  HeapBlock source(in.BufferSize());
  std::string line = in.Text();
  HeapBlock lineText(line);
  CodePage codePage(in);
  int fitted =
      SplitGroupLine(lineText.Data(), target.Data(), target.Size(), source.Data(), source.Size());
  size_t comma = FindCharacter(codePage, line, ",");
  std::string wantTarget = comma == std::string::npos ? line : line.substr(0, comma);
  std::string wantSource = comma == std::string::npos ? line : line.substr(comma + 1);
  bool targetFitted = false;
  bool sourceFitted = false;
  FUZZ_CHECK(target.Terminated() && source.Terminated());
  FUZZ_CHECK(target.Text() ==
             Bounded(codePage.Characters(wantTarget), target.Size(), &targetFitted));
  FUZZ_CHECK(source.Text() ==
             Bounded(codePage.Characters(wantSource), source.Size(), &sourceFitted));
  FUZZ_CHECK(fitted == (targetFitted && sourceFitted));
  // Joined again, the two parts give back the line.
  if (fitted && comma != std::string::npos) {
    FUZZ_CHECK(target.Text() + "," + source.Text() == line);
  }
}

void CheckJoin(FuzzInput& in) {
  bool always = in.Byte() % 2 == 0;
  HeapBlock dest(in.BufferSize());
  std::string folder = in.Text();
  std::string name = in.Text();
  HeapBlock folderText(folder);
  HeapBlock nameText(name);
  CodePage codePage(in);
  int fitted = always ? JoinPathAlways(dest.Data(), dest.Size(), folderText.Data(), nameText.Data())
                      : JoinPathOnce(dest.Data(), dest.Size(), folderText.Data(), nameText.Data());
  std::vector<std::string> pieces = codePage.Characters(folder);
  if (always || pieces.empty() || pieces.back() != "\\") {
    pieces.push_back("\\");
  }
  bool allFitted = false;
  FUZZ_CHECK(dest.Terminated());
  FUZZ_CHECK(dest.Text() == Bounded(pieces + codePage.Characters(name), dest.Size(), &allFitted));
  FUZZ_CHECK(fitted == (int)allFitted);
}

void CheckCut(FuzzInput& in) {
  std::string path = in.Text();
  HeapBlock text(path);
  CodePage codePage(in);
  CutAtLastSeparator(text.Data());
  size_t last = std::string::npos;
  size_t at = 0;
  for (const std::string& c : codePage.Characters(path)) {
    last = c == "\\" ? at : last;
    at += c.size();
  }
  std::string expected = last == std::string::npos || last == 0 ? path : path.substr(0, last);
  FUZZ_CHECK(text.Text() == expected);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? (char)(c + 32) : c;
}

void CheckCompare(FuzzInput& in) {
  std::string a = in.Text();
  std::string b = in.Text();
  if (in.Byte() % 2 == 0) {
    b = a; // equal texts in mixed case are the interesting ones
    for (size_t i = 0; i < b.size(); ++i) {
      if (in.Byte() % 2 == 0 && b[i] >= 'a' && b[i] <= 'z') {
        b[i] = (char)(b[i] - 32);
      }
    }
  }
  HeapBlock first(a);
  HeapBlock second(b);
  CodePage codePage(in);
  // Character by character; only a single-byte character is a letter that folds.
  const std::vector<std::string> as = codePage.Characters(a);
  const std::vector<std::string> bs = codePage.Characters(b);
  bool equal = as.size() == bs.size();
  for (size_t i = 0; equal && i < as.size(); ++i) {
    equal = as[i].size() == 2 ? as[i] == bs[i]
                              : bs[i].size() == 1 && Lower(as[i][0]) == Lower(bs[i][0]);
  }
  FUZZ_CHECK(EqualIgnoringAsciiCase(first.Data(), second.Data()) == (int)equal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  switch (in.Byte() % 4) {
  case 0:
    CheckSplit(in);
    break;
  case 1:
    CheckJoin(in);
    break;
  case 2:
    CheckCut(in);
    break;
  default:
    CheckCompare(in);
    break;
  }
  return 0;
}
