// SizeN values and the megabyte texts: the parse wraps like a signed 32-bit count, the texts
// keep their shape, stay in their buffer and round to the figure they stand for.
#include <math.h>
#include <stdio.h>

#include "fuzz_support.h"
#include "setup_script/text_rules.h"

namespace {

void CheckParse(FuzzInput& in) {
  std::string text = in.Text();
  HeapBlock value(text);
  size_t i = 0;
  while (i < text.size() && strchr(" \t\n\r\v\f", text[i]) != nullptr) {
    ++i;
  }
  bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    ++i;
  }
  uint32_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10u + (uint32_t)(text[i] - '0');
  }
  uint32_t expected = negative ? 0u - magnitude : magnitude;
  FUZZ_CHECK((uint32_t)ParseSizeValue(value.Data()) == expected);
}

// "-?digits( .dd)? MB" with the decimals exactly when wanted; returns the figure.
double ReadShape(const std::string& text, bool decimals) {
  FUZZ_CHECK(text.size() > 3 && text.compare(text.size() - 3, 3, " MB") == 0);
  std::string number = text.substr(0, text.size() - 3);
  size_t i = number[0] == '-' ? 1 : 0;
  size_t digits = 0;
  while (i < number.size() && number[i] >= '0' && number[i] <= '9') {
    ++i;
    ++digits;
  }
  FUZZ_CHECK(digits > 0);
  if (decimals) {
    FUZZ_CHECK(number.size() == i + 3 && number[i] == '.' &&
               isdigit((unsigned char)number[i + 1]) && isdigit((unsigned char)number[i + 2]));
  } else {
    FUZZ_CHECK(number.size() == i);
  }
  return strtod(number.c_str(), nullptr);
}

// The figure as it is defined: the count as a 32-bit float, in megabytes (an exact division),
// with halves rounded away from zero; every step below is exact in double.
std::string ExpectedMegabytes(int32_t bytes) {
  volatile float stored = (float)bytes;
  double megabytes = (double)stored / 1048576.0;
  bool decimals = bytes < 104857600;
  double scaled = fabs(megabytes) * (decimals ? 100.0 : 1.0);
  unsigned long long rounded = (unsigned long long)floor(scaled + 0.5);
  char text[64];
  if (decimals) {
    snprintf(text, sizeof text, "%s%llu.%02llu MB", megabytes < 0 ? "-" : "", rounded / 100,
             rounded % 100);
  } else {
    snprintf(text, sizeof text, "%llu MB", rounded);
  }
  return text;
}

void CheckMegabytes(FuzzInput& in) {
  HeapBlock text(in.BufferSize());
  int32_t bytes = (int32_t)in.Word32();
  FormatMegabytesText(text.Data(), text.Size(), bytes);
  char whole[80];
  FormatMegabytesText(whole, sizeof whole, bytes);
  FUZZ_CHECK(text.Terminated());
  FUZZ_CHECK(text.Text() == Cut(whole, text.Size()));
  FUZZ_CHECK(std::string(whole) == ExpectedMegabytes(bytes));
}

void CheckFreeSpace(FuzzInput& in) {
  HeapBlock text(in.BufferSize());
  uint32_t bits = in.Word32();
  float megabytes;
  memcpy(&megabytes, &bits, sizeof megabytes);
  FormatFreeSpaceText(text.Data(), text.Size(), megabytes);
  char whole[80];
  FormatFreeSpaceText(whole, sizeof whole, megabytes);
  FUZZ_CHECK(text.Terminated());
  FUZZ_CHECK(text.Text() == Cut(whole, text.Size()));
  if (isnan(megabytes)) {
    FUZZ_CHECK(std::string(whole) == "0.00 MB");
    return;
  }
  bool decimals = megabytes < 100.0f;
  double shown = ReadShape(whole, decimals);
  if (fabs(megabytes) < 1e15) { // beyond any drive the figure is capped
    FUZZ_CHECK(fabs(shown - megabytes) <= (decimals ? 0.005 : 0.5) + 1e-6);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  switch (in.Byte() % 3) {
  case 0:
    CheckParse(in);
    break;
  case 1:
    CheckMegabytes(in);
    break;
  default:
    CheckFreeSpace(in);
    break;
  }
  return 0;
}
