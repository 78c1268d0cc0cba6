// The checks of a folder typed in the folder browser: the drive test never reads past a short
// text, and one trailing separator at most is removed.
#include "fuzz_support.h"
#include "setup_script/text_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::string typed = in.Text();
  HeapBlock text(typed);
  bool drive = typed.size() >= 3 && typed[1] == ':' && typed[2] == '\\';
  FUZZ_CHECK(HasDrivePrefix(text.Data()) == (int)drive);
  RemoveTrailingSeparator(text.Data());
  std::string expected =
      !typed.empty() && typed.back() == '\\' ? typed.substr(0, typed.size() - 1) : typed;
  FUZZ_CHECK(text.Text() == expected);
  return 0;
}
