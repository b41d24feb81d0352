// The one platform header of the product.  On Windows it is the SDK; on the
// build host it is the simulated Windows machine that the tests drive.
#pragma once

#ifdef _WIN32
#ifndef WINVER
#define WINVER 0x0601
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>
#include <imm.h>
#include <aclapi.h>
#include <shlobj.h>
// Wide literal in a form that compiles on both sides.
#define WSZ(s) L##s
#else
#include "sim/winapi.h"
#define WSZ(s) u##s
#endif

#include <stddef.h>
#include <stdio.h>
#include <string.h>

// GetProcAddress hands back a generic function pointer; going through
// void(*)(void) keeps the compiler from warning about the cast.
template <typename T>
static inline T ProcAs(FARPROC proc) {
    return reinterpret_cast<T>(reinterpret_cast<void (*)(void)>(proc));
}

// The payload digest functions of advapi32 are exported but not declared by
// the SDK; this is their documented context layout.
struct VORN_MD5_CTX {
    ULONG i[2];
    ULONG buf[4];
    unsigned char in[64];
    unsigned char digest[16];
};
typedef void(WINAPI* VORN_MD5INIT)(VORN_MD5_CTX*);
typedef void(WINAPI* VORN_MD5UPDATE)(VORN_MD5_CTX*, const unsigned char*, unsigned int);
typedef void(WINAPI* VORN_MD5FINAL)(VORN_MD5_CTX*);

// Looked up at run time: SetDefaultDllDirectories exists from Windows 8 (and
// Vista/7 with KB2533623), SetDllDirectoryW from Windows XP SP1.
typedef BOOL(WINAPI* VORN_SETDEFAULTDLLDIRS)(DWORD);
typedef BOOL(WINAPI* VORN_SETDLLDIRW)(LPCWSTR);
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// input.dll's InstallLayoutOrTip (Windows 8 and later; no import library
// declares it).
typedef BOOL(WINAPI* VORN_INSTALLLAYOUTORTIP)(LPCWSTR, DWORD);

// Looked up at run time: Windows XP 32-bit has neither.
typedef BOOL(WINAPI* VORN_WOW64DISABLE)(PVOID*);
typedef BOOL(WINAPI* VORN_WOW64REVERT)(PVOID);

// Terminal services, looked up at run time: NT 4.0 and 2000 lack parts of
// them (WTSGetActiveConsoleSessionId came with XP).  WTS_INFO_CLASS values.
typedef DWORD(WINAPI* VORN_CONSOLESESSION)(void);
typedef BOOL(WINAPI* VORN_PIDTOSESSION)(DWORD, DWORD*);
typedef BOOL(WINAPI* VORN_WTSQUERYA)(HANDLE, DWORD, int, LPSTR*, DWORD*);
typedef void(WINAPI* VORN_WTSFREE)(PVOID);
enum { VORN_WTS_USER_NAME = 5, VORN_WTS_DOMAIN_NAME = 7 };
#define VORN_WTS_CURRENT_SESSION ((DWORD)-1)
