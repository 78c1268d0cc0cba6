// CopyText, AppendText and FormatText: never past the buffer, always terminated, 0 exactly when
// the text was cut, and the cut text is the longest prefix of whole characters that fits.
#include "fuzz_support.h"
#include "setup_script/text_rules.h"

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

void Check(int fitted, const HeapBlock& dest, const std::vector<std::string>& characters) {
  std::string whole;
  for (const std::string& c : characters) {
    whole += c;
  }
  FUZZ_CHECK(dest.Terminated());
  FUZZ_CHECK(dest.Text() == Cut(characters, dest.Size()));
  FUZZ_CHECK(fitted == (whole.size() < dest.Size()));
}

void CheckCopy(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string src = in.Text();
  HeapBlock source(src);
  ChooseCodePage(in);
  Check(CopyText(dest.Data(), dest.Size(), source.Data()), dest, Characters({src}));
}

void CheckAppend(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string start = Cut(in.Text(), dest.Size());
  memcpy(dest.Data(), start.c_str(), start.size() + 1);
  bool terminated = in.Byte() % 8 != 0;
  if (!terminated) {
    memset(dest.Data(), 'u', dest.Size()); // no terminator anywhere in the buffer
  }
  std::string src = in.Text();
  HeapBlock source(src);
  ChooseCodePage(in);
  int fitted = AppendText(dest.Data(), dest.Size(), source.Data());
  if (terminated) {
    Check(fitted, dest, Characters({start, src}));
  } else {
    FUZZ_CHECK(fitted == 0); // nothing can be appended safely
  }
}

// The rules spelled out: %s and %d convert, %% is one "%", anything else is copied as it stands.
void CheckFormat(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string format = in.Text();
  Argument args[3];
  int count = 0;
  std::vector<std::string> expected; // the format's bytes, an argument's text as one
  for (size_t i = 0; i < format.size(); ++i) {
    char next = i + 1 < format.size() ? format[i + 1] : '\0';
    if (format[i] == '%' && (next == 's' || next == 'd')) {
      if (count == 3) {
        return;
      }
      Argument& a = args[count++];
      a = {next == 's', in.Text(), (int)in.Word32()};
      expected.push_back(std::string(1, '\0') + (a.isText ? a.text : std::to_string(a.number)));
      ++i;
    } else {
      expected.push_back(std::string(1, format[i]));
      i += format[i] == '%' && next == '%';
    }
  }
  HeapBlock formatText(format);
  ChooseCodePage(in);
  std::vector<std::string> characters;
  for (const std::string& piece : expected) { // an argument is cut between its characters
    const std::vector<std::string> more =
        piece[0] == '\0' ? Characters({piece.substr(1)}) : std::vector<std::string>{piece};
    characters.insert(characters.end(), more.begin(), more.end());
  }
  Check(Format(dest.Data(), dest.Size(), formatText.Data(), args, count), dest, characters);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  void (*checks[])(FuzzInput&) = {CheckCopy, CheckAppend, CheckFormat};
  checks[in.Byte() % 3](in);
  return 0;
}
