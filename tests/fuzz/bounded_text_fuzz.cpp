// CopyText, AppendText and FormatText: never past the buffer, always terminated, 0 exactly when
// the text was cut, and the cut text is the longest prefix of whole characters that fits.
#include "fuzz_support.h"
#include "setup_script/text_rules.h"

#include <algorithm>

namespace {

struct Argument {
  bool isText;
  std::string text;
  int number;
};

// FormatText with up to three arguments, each passed in the type its conversion takes.
template <int Depth = 0, typename... Passed>
int Format(char* dest, size_t size, const char* format, const Argument* args, int count,
           Passed... passed) {
  if constexpr (Depth < 3) {
    if (count > 0) {
      return args->isText ? Format<Depth + 1>(dest, size, format, args + 1, count - 1, passed...,
                                              args->text.c_str())
                          : Format<Depth + 1>(dest, size, format, args + 1, count - 1, passed...,
                                              args->number);
    }
  }
  return FormatText(dest, size, format, passed...);
}

void Check(int fitted, const HeapBlock& dest, const std::vector<std::string>& pieces) {
  bool allFitted = false;
  FUZZ_CHECK(dest.Terminated());
  FUZZ_CHECK(dest.Text() == Bounded(pieces, dest.Size(), &allFitted));
  FUZZ_CHECK(fitted == (int)allFitted);
}

void CheckCopy(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string src = in.Text();
  HeapBlock source(src);
  CodePage codePage(in);
  Check(CopyText(dest.Data(), dest.Size(), source.Data()), dest, codePage.Characters(src));
}

void CheckAppend(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string start = in.Text();
  start = start.substr(0, std::min(start.size(), dest.Size() - 1));
  memcpy(dest.Data(), start.c_str(), start.size() + 1);
  bool terminated = in.Byte() % 8 != 0;
  if (!terminated) {
    memset(dest.Data(), 'u', dest.Size()); // no terminator anywhere in the buffer
  }
  std::string src = in.Text();
  HeapBlock source(src);
  CodePage codePage(in);
  int fitted = AppendText(dest.Data(), dest.Size(), source.Data());
  if (terminated) {
    Check(fitted, dest, std::vector<std::string>{start} + codePage.Characters(src));
  } else {
    FUZZ_CHECK(fitted == 0); // nothing can be appended safely
  }
}

// The rules spelled out: %s and %d convert, %% is one "%", anything else is copied as it stands;
// a "%" is one only where a character begins.
void CheckFormat(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string format = in.Text();
  Argument inputs[3]; // a text and a number for each conversion the bytes spell
  int count = 0;
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] == '%' && (format[i + 1] == 's' || format[i + 1] == 'd') && count < 3) {
      inputs[count++] = {true, in.Text(), (int)in.Word32()};
    }
  }
  CodePage codePage(in);
  Argument args[3]; // each in the type of the conversion it is passed to
  std::vector<std::string> pieces;
  int used = 0;
  const std::vector<std::string> characters = codePage.Characters(format);
  for (size_t i = 0; i < characters.size(); ++i) {
    const std::string next = i + 1 < characters.size() ? characters[i + 1] : "";
    if (characters[i] == "%" && (next == "s" || next == "d")) {
      if (used == count) {
        return; // more conversions than arguments
      }
      Argument& a = args[used];
      a = {next == "s", inputs[used].text, inputs[used].number};
      ++used;
      pieces = pieces + (a.isText ? codePage.Characters(a.text)
                                  : codePage.Characters(std::to_string(a.number)));
      ++i;
    } else {
      pieces.push_back(characters[i]);
      i += characters[i] == "%" && next == "%";
    }
  }
  HeapBlock formatText(format);
  Check(Format(dest.Data(), dest.Size(), formatText.Data(), args, used), dest, pieces);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  void (*checks[])(FuzzInput&) = {CheckCopy, CheckAppend, CheckFormat};
  checks[in.Byte() % 3](in);
  return 0;
}
