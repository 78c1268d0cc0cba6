// Copies one group's files from the installer's folder into the destination folder.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <stdint.h>

int CopyGroupFiles(HINF infHandle, const char* sectionName, int16_t groupIndex);
