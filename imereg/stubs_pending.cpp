// Placeholder operations until registration is built.
#include "imereg/imereg.h"

PreloadState g_preload;
HKL g_installedLayout;
bool RegisterImeLayout(void) { return false; }
void RegisterLayoutManually(void) {}
int ReadUserPreload(void) { return 0; }
bool FindImeInPreload(void) { memset(&g_preload, 0, sizeof(g_preload)); return false; }
void PromoteImeInPreload(void) {}
void SwapFirstTwoPreload(void) {}
void AddLayoutToUserPreload(LPCSTR) {}
void WriteUninstallEntry(void) {}
void WriteAutoStartEntry(LPCSTR) {}
void WriteBrowserTag(void) {}
int GrantUserFullAccess(LPCSTR) { return 0; }
void SetLowIntegrity(void) {}
