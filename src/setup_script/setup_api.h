// Every Setup API call the installer makes goes through here, plus our own disk-space lists
// (the platform's SetupAddToDiskSpaceListA is not implemented everywhere, notably under Wine).
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <stdint.h>

// Looks up every Setup API function this file calls in the system's setupapi.dll, once, before
// anything else here is used. Returns 0, after telling the user, when that fails.
int LoadSetupApi(void);

// The start shared by setup.exe and uninstall.exe: the library search restricted, the text rules
// told the lead bytes of the system's ANSI code page, and the Setup API loaded. Returns 0 (the
// user told why) when a library is missing.
int StartWithSystemLibraries(void);

// Opens a Windows 4 style INF; INVALID_HANDLE_VALUE on failure.
HINF OpenSetupFile(const char* path);
void CloseSetupFile(HINF inf);

int FindFirstLine(HINF inf, const char* section, INFCONTEXT* context);
int FindNextLine(INFCONTEXT* context);
// The whole line, its fields joined by commas, into a buffer of kLineSize bytes; 0 when the
// line cannot be read (for example when it is longer than 255 characters).
int GetLineText(INFCONTEXT* context, char* line);
// Field index of a line (0 is its key, 1 the first value) as text with strings and directory
// ids substituted, into size bytes; 0 when there is no such field or it does not fit.
int GetLineField(INFCONTEXT* context, DWORD index, char* text, DWORD size);
// A field as a number (decimal or 0x hex); 0 when it is missing or not a number.
int GetLineIntField(INFCONTEXT* context, DWORD index, int* value);
// The number of value fields of a line.
DWORD GetLineFieldCount(INFCONTEXT* context);
// Lines of a section; negative for a missing section.
int32_t GetSectionLineCount(HINF inf, const char* section);

// Binds directory id 65600 to the destination folder.
int SetDestinationDirectoryId(HINF inf, const char* folder);
// The platform call behind it (set by LoadSetupApi), which Wine never refuses for our id: tests
// put a refusing stand-in here.
typedef BOOL(WINAPI* SetDirectoryIdFunction)(HINF, DWORD, PCSTR);
extern SetDirectoryIdFunction setDirectoryId;
// Carries out "default_install" with its INI-file and registry operations only. On failure the
// reason is in the thread's last error.
int InstallDefaultSection(HWND owner, HINF inf);
// Carries out any install section the same way.
int InstallSectionByName(HWND owner, HINF inf, const char* section);
// The platform call behind InstallDefaultSection (set by LoadSetupApi). Wine's Setup API never
// refuses an INI-file or registry line, so tests put a refusing stand-in here to reach the
// failure path.
typedef BOOL(WINAPI* InstallSectionFunction)(HWND, HINF, PCSTR, UINT, HKEY, PCSTR, UINT,
                                             PSP_FILE_CALLBACK_A, PVOID, HDEVINFO,
                                             PSP_DEVINFO_DATA);
extern InstallSectionFunction installSection;

// The size a source file will have once installed (after any decompression); 0 when unknown.
uint32_t GetInstalledFileSize(const char* sourcePath);

// Disk-space lists. A list records copies of files to target paths and answers, per drive, how
// many bytes they need: each target's size rounded up to the drive's cluster size, less (unless
// the list ignores the disk) the cluster-rounded size of a file already at that path. A target
// added again replaces its earlier entry.
enum { kSpaceListIgnoreDisk = 1 };
struct SpaceList;
SpaceList* CreateSpaceList(unsigned int flags);
void AddToSpaceList(SpaceList* list, const char* targetPath, int64_t size);
// driveSpec is "X:"; a drive the list cannot resolve needs 0 bytes. Returns 1 on success.
int QuerySpaceOnDrive(SpaceList* list, const char* driveSpec, int64_t* required);
void DestroySpaceList(SpaceList* list);
