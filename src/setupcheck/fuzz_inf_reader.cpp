// libFuzzer target for the INF and INI reader: any bytes must parse without a fault, and every
// text it hands on must keep the platform's limits.
#include <stdint.h>
#include <stdlib.h>

#include "code_page.h"
#include "inf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An odd first byte reads the input in code page 932, whose second bytes may be "\" or "]".
  static const unsigned char kSingleByte[] = {0, 0};
  SetCodePageRules(size > 0 && (data[0] & 1) ? KnownLeadByteRanges(932) : kSingleByte, nullptr);
  InfFile inf;
  inf.folder = "C:\\dist\\";
  ReadInf((const char*)data, size, &inf);
  for (const InfSection& section : inf.sections) {
    if (CharCount(section.name) > kInfSectionNameLimit) {
      abort();
    }
    for (const InfLine& line : section.lines) {
      if (line.fields.empty() || CharCount(line.key) > kInfFieldLimit) {
        abort();
      }
      for (const std::string& field : line.fields) {
        if (CharCount(field) > kInfFieldLimit ||
            CharCount(SubstituteField(inf, field)) > kInfSubstitutedLimit) {
          abort();
        }
      }
      InfLineText(inf, line);
    }
  }
  IniFile ini;
  ReadIni((const char*)data, size, &ini);
  for (const IniSection& section : ini.sections) {
    for (const IniKey& key : section.keys) {
      size_t full = 0;
      if (IniValueText(FindIniKey(ini, section.name.c_str(), key.name.c_str()), 128, &full).size() >
          127) {
        abort();
      }
    }
  }
  return 0;
}
