// CopyText, AppendText and FormatText: never past the buffer, always terminated, 0 exactly when
// the text was cut, and the cut text is the longest prefix that fits.
#include "fuzz_support.h"
#include "setup_script/text_rules.h"

namespace {

struct FormatArgument {
  bool isText;
  std::string text;
  int number;
};

// The format rules spelled out: %s, %d and %% convert, anything else is copied as it stands.
std::string ExpectedFormat(const std::string& format, const FormatArgument* args) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 's' || format[i + 1] == 'd')) {
      out += args->isText ? args->text : std::to_string(args->number);
      ++args;
      ++i;
    } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

// Calls FormatText with the arguments in their types, up to three of them.
template <int Depth, typename... Passed>
int CallFormat(char* dest, size_t size, const char* format, const FormatArgument* args, int count,
               Passed... passed) {
  if constexpr (Depth == 3) {
    return FormatText(dest, size, format, passed...);
  } else {
    if (count == 0) {
      return FormatText(dest, size, format, passed...);
    }
    if (args->isText) {
      return CallFormat<Depth + 1>(dest, size, format, args + 1, count - 1, passed...,
                                   args->text.c_str());
    }
    return CallFormat<Depth + 1>(dest, size, format, args + 1, count - 1, passed..., args->number);
  }
}

void CheckCopy(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string src = in.Text();
  HeapText source(src);
  int fitted = CopyText(dest.Data(), dest.Size(), source.Data());
  FUZZ_CHECK(dest.Terminated());
  FUZZ_CHECK(dest.Text() == Cut(src, dest.Size()));
  FUZZ_CHECK(fitted == (src.size() < dest.Size()));
}

void CheckAppend(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string before = in.Text();
  bool terminated = in.Byte() % 8 != 0;
  size_t copied = before.size() < dest.Size() ? before.size() : dest.Size();
  memcpy(dest.Data(), before.data(), copied);
  if (terminated) {
    dest.Data()[copied < dest.Size() ? copied : dest.Size() - 1] = '\0';
  } else {
    memset(dest.Data() + copied, 'u', dest.Size() - copied); // no terminator anywhere
  }
  std::string start(dest.Data(), strnlen(dest.Data(), dest.Size()));
  std::string src = in.Text();
  HeapText source(src);
  int fitted = AppendText(dest.Data(), dest.Size(), source.Data());
  if (!terminated) {
    FUZZ_CHECK(fitted == 0); // nothing can be appended safely to an unterminated text
    return;
  }
  FUZZ_CHECK(dest.Terminated());
  FUZZ_CHECK(dest.Text() == Cut(start + src, dest.Size()));
  FUZZ_CHECK(fitted == (start.size() + src.size() < dest.Size()));
}

void CheckFormat(FuzzInput& in) {
  HeapBlock dest(in.BufferSize());
  std::string format = in.Text();
  int conversions = 0;
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] == '%' && (format[i + 1] == 's' || format[i + 1] == 'd')) {
      ++conversions;
      ++i;
    } else if (format[i] == '%' && format[i + 1] == '%') {
      ++i;
    }
  }
  if (conversions > 3) {
    return; // the call below passes at most three arguments
  }
  FormatArgument args[3];
  for (int i = 0; i < 3; ++i) {
    args[i].isText = in.Byte() % 2 == 0;
    args[i].text = in.Text();
    args[i].number = (int)in.Word32();
  }
  // %s and %d take the arguments in order; the type of each follows the format.
  for (size_t i = 0, a = 0; i + 1 < format.size(); ++i) {
    if (format[i] == '%' && (format[i + 1] == 's' || format[i + 1] == 'd')) {
      args[a++].isText = format[i + 1] == 's';
      ++i;
    } else if (format[i] == '%' && format[i + 1] == '%') {
      ++i;
    }
  }
  HeapText formatText(format);
  int fitted = CallFormat<0>(dest.Data(), dest.Size(), formatText.Data(), args, conversions);
  std::string expected = ExpectedFormat(format, args);
  FUZZ_CHECK(dest.Terminated());
  FUZZ_CHECK(dest.Text() == Cut(expected, dest.Size()));
  FUZZ_CHECK(fitted == (expected.size() < dest.Size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  switch (in.Byte() % 3) {
  case 0:
    CheckCopy(in);
    break;
  case 1:
    CheckAppend(in);
    break;
  default:
    CheckFormat(in);
    break;
  }
  return 0;
}
