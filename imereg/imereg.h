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
void RegisterLayoutManually(void);

int ReadUserPreload(void);
bool FindImeInPreload(void);
void PromoteImeInPreload(void);
void SwapFirstTwoPreload(void);
void AddLayoutToUserPreload(LPCSTR layoutId);

void WriteUninstallEntry(void);
void WriteAutoStartEntry(LPCSTR command);
void WriteBrowserTag(void);
int GrantUserFullAccess(LPCSTR directory);
void SetLowIntegrity(void);
