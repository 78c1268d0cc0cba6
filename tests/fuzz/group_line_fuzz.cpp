// The path steps of the copy engine and the disk-space walk: the split of a group line at its
// first comma, joining a folder and a name, cutting at the last separator, and the
// case-blind comparison of folders.
#include "fuzz_support.h"
#include "setup_script/text_rules.h"

namespace {

void CheckSplit(FuzzInput& in) {
  HeapBlock target(in.BufferSize());
  HeapBlock source(in.BufferSize());
  std::string line = in.Text();
  HeapBlock lineText(line);
  int fitted =
      SplitGroupLine(lineText.Data(), target.Data(), target.Size(), source.Data(), source.Size());
  size_t comma = line.find(',');
  std::string wantTarget = comma == std::string::npos ? line : line.substr(0, comma);
  std::string wantSource = comma == std::string::npos ? line : line.substr(comma + 1);
  FUZZ_CHECK(target.Terminated() && source.Terminated());
  FUZZ_CHECK(target.Text() == Cut(wantTarget, target.Size()));
  FUZZ_CHECK(source.Text() == Cut(wantSource, source.Size()));
  FUZZ_CHECK(fitted == (wantTarget.size() < target.Size() && wantSource.size() < source.Size()));
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
  int fitted = always ? JoinPathAlways(dest.Data(), dest.Size(), folderText.Data(), nameText.Data())
                      : JoinPathOnce(dest.Data(), dest.Size(), folderText.Data(), nameText.Data());
  bool separate = always || folder.empty() || folder.back() != '\\';
  std::string expected = folder + (separate ? "\\" : "") + name;
  FUZZ_CHECK(dest.Terminated());
  FUZZ_CHECK(dest.Text() == Cut(expected, dest.Size()));
  FUZZ_CHECK(fitted == (expected.size() < dest.Size()));
}

void CheckCut(FuzzInput& in) {
  std::string path = in.Text();
  HeapBlock text(path);
  CutAtLastSeparator(text.Data());
  size_t last = path.rfind('\\');
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
  bool equal = a.size() == b.size();
  for (size_t i = 0; equal && i < a.size(); ++i) {
    equal = Lower(a[i]) == Lower(b[i]);
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
