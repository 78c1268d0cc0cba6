// The checks of a folder typed in the folder browser: the drive test never reads past a short
// text, and one trailing separator at most is removed, never a trail byte.
#include "fuzz_support.h"
#include "setup_script/text_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::string typed = in.Text();
  HeapBlock text(typed);
  CodePage codePage(in);
  const std::vector<std::string> characters = codePage.Characters(typed);
  bool drive = characters.size() >= 3 && characters[1] == ":" && characters[2] == "\\";
  FUZZ_CHECK(DrivePrefixLength(text.Data()) == (drive ? characters[0].size() + 2 : 0));
  RemoveTrailingSeparator(text.Data());
  std::string expected =
      !characters.empty() && characters.back() == "\\" ? typed.substr(0, typed.size() - 1) : typed;
  FUZZ_CHECK(text.Text() == expected);
  return 0;
}
