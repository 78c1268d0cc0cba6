// The flags field of an INF AddReg or DelReg line, as the Setup API reads it: shared by the
// removal, which takes back what such lines wrote, and the checker's plans of both.
#pragma once

#include <stdint.h>

const int32_t kBinaryValueType = 0x1;
const int32_t kNoClobber = 0x2;
const int32_t kDeleteValue = 0x4;
const int32_t kAppend = 0x8;
const int32_t kKeyOnly = 0x10;
const int32_t kOverwriteOnly = 0x20;
const int32_t kKeyView64 = 0x1000;
const int32_t kKeyOnlyCommon = 0x2000;
const int32_t kKeyView32 = 0x4000;
const int32_t kDeleteRegBit = 0x8000;
const int32_t kMultiSzDeleteString = 0x18002;
const uint32_t kTypeMask = 0xFFFF0001u;
const uint32_t kTypeMultiSz = 0x10000u;
