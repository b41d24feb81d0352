// The platform contract suite: Win32 behaviour the product relies on, pinned
// down once and run both against the simulated Windows (native build) and
// against Wine (x64 build).  Styled after Wine's own conformance tests:
// outputs are filled with sentinels, and every check names its line.
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/win32.h"

namespace contract {

extern int g_passed;
extern int g_failed;
extern const char* g_test;
extern bool g_onWine;  // true under the real Win32 implementation

// The scratch directory every test works in, "C:\vorncontract" (no trailing "\").
extern char g_dir[MAX_PATH];

void Check(bool condition, const char* file, int line, const char* format, ...);
// Path of `name` inside the scratch directory.
const char* Path(const char* name);
// Creates `name` in the scratch directory with `bytes`; false on failure.
bool MakeFile(const char* name, const char* bytes, size_t length);
// Removes every file and directory below the scratch directory.
void CleanScratch(void);

typedef void (*TestFn)(void);
struct Registrar {
    Registrar(const char* name, TestFn fn);
};

}  // namespace contract

// A known difference of Wine from Windows, accepted only under Wine; the
// simulation follows Windows.
#define broken(cond) (contract::g_onWine && (cond))
#define ok(cond, ...) contract::Check((cond), __FILE__, __LINE__, __VA_ARGS__)
#define CONTRACT_TEST(name)                                              \
    static void name(void);                                              \
    static contract::Registrar name##_registrar(#name, name);            \
    static void name(void)
