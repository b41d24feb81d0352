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
// NT family: adds the layout id `id` (lower case) to the preload list of the
// user whose hive `userRoot` is (HKEY_CURRENT_USER, or his key under
// HKEY_USERS), unless the list holds an entry of this input method already.
// Shows nothing.  True when the list holds one afterwards.
bool AddImeToPreloadOf(HKEY userRoot, LPCSTR id);
// The id of this input method's Keyboard Layouts entry ("IME file"
// vornhu4.ime, this input method's layout text) whose file is in the system
// directory; the highest when there are several; 0 when there is none (the
// input method was uninstalled).
DWORD FindRegisteredLayout(void);

// The user at this session (the console's, under the system account) when
// he is not the account the setup runs as: his SID, or null.  Asked once per
// run, and logged.
const BYTE* OtherSessionUser(void);
// True when the setup runs as the system account.
bool RunsAsSystemAccount(void);
// Gives that user what his own install gives him of the layout: the id
// `layoutId` in his preload list (his hive is loaded while he is logged on).
// His language list (Windows 8 and later) can only be changed by him: the
// per-user step does it at his next logon.
void AddLayoutForSessionUser(DWORD layoutId);
// The per-user step of every user's logon (Active Setup): the layout in his
// preload list and, on Windows 8 and later, his language list.  Nothing
// when the input method is not (or no longer) installed.  Shows nothing.
// True when the layout was found.
bool RunPerUserStep(void);

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
// The Active Setup entry that makes every user's next logon run `command`
// (the per-user step), once per user and version; RemovePerUserEntry takes
// it away when there is no step program to run.  64-bit registry view.
void WritePerUserEntry(LPCSTR command);
void RemovePerUserEntry(void);
int GrantUserFullAccess(LPCSTR directory);
void SetLowIntegrity(void);
