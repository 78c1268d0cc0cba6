// How much room the selected groups need and how much the destination drive offers.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <stdint.h>

int EstimateGroupSpace(HINF infHandle, const char* sectionName, int32_t* netSize,
                       int32_t* grossSize, int16_t groupIndex);
void MeasureFreeSpace(void);
void UpdateSpaceLabels(HWND page);
// text is 80 bytes in every caller.
void FormatMegabytes(char* text, int32_t bytes);
