// Registration of the input method with Windows: the keyboard layout, the
// users' preload lists and the smaller system entries.
#pragma once

#include "platform/win32.h"

enum { kPreloadMax = 49, kPreloadIdBytes = 10, kLayoutTextBytes = 200 };

struct PreloadState {
    char ids[kPreloadMax][kPreloadIdBytes];
    char texts[kPreloadMax][kLayoutTextBytes];
    int count;
    bool hit;
    int position;  // 1-based; 0 when not in the list
};

extern PreloadState g_preload;
extern HKL g_installedLayout;

bool RegisterImeLayout(void);
// The layout id of the entry it wrote (0xE0210804), 0 when it wrote none.
DWORD RegisterLayoutManually(void);
// Windows 8 and later: adds the layout `layoutId` (0: none was registered)
// to the current user's input profiles.  Nothing at all on earlier systems.
void AddLayoutToUserProfiles(DWORD layoutId);

int ReadUserPreload(void);
bool FindImeInPreload(void);
void PromoteImeInPreload(void);
void SwapFirstTwoPreload(void);
void AddLayoutToUserPreload(LPCSTR layoutId);

// Shared by the registration files.
// True on the NT family (bit 31 of GetVersion clear), false on 9x.
bool IsNtFamily(void);
// Reads a value of any type into `out` of `cbOut` bytes, always terminated;
// false (and `out` empty) when it is missing or would not fit.
bool ReadRegText(HKEY key, LPCSTR name, char* out, DWORD cbOut);
// Writes a narrow REG_SZ whose data size is the text's length.
LSTATUS WriteRegText(HKEY key, LPCSTR name, LPCSTR text);
// True when the narrow `text` (a layout text or an input method's
// description) begins with this input method's name: its first eight
// characters (`shortForm` false) or six (true), in GBK, or on a Big5 system
// in the forms its narrow calls give.
bool BeginsWithImeName(LPCSTR text, bool shortForm);

// Before an interactive install: 1 when it may go on; 0 when the run must
// end, after at least one message saying why.
int CheckDefaultInputMethod(void);
// On the last page: makes the installed input method the process's layout.
// 1 when it tried, 0 when it did nothing.  A handle found by description is
// kept in g_installedLayout for later paints.
int ActivateInstalledIme(void);

// Counts the top-level windows of the input method's UI class; when above 0,
// InUseMessage() holds the message listing their programs.
int FindProgramsUsingIme(void);
LPCWSTR InUseMessage(void);
// True while the running input method's shared memory exists.
bool IsImeDataInMemory(void);

void WriteUninstallEntry(void);
void WriteAutoStartEntry(LPCSTR command);
// Deletes the auto-start value, so that no logon starts a companion program
// that did not reach the system directory.
void RemoveAutoStartEntry(void);
void WriteBrowserTag(void);
int GrantUserFullAccess(LPCSTR directory);
void SetLowIntegrity(void);
