// The DLL search order the setup program sets first thing: with
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) a bare DLL name is
// looked for in the system directory only, never beside the program (the
// download folder it runs from, elevated).  The planted DLL is the suite's
// resource PLANTDLL, written beside the program under made-up names.
#include "tests/contract/contract.h"

namespace {
// "<program's directory>\<name>", written from the resource; false on failure.
bool PlantBesideProgram(const char* name, char* path, size_t cbPath) {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, exe, sizeof(exe));
    if (n == 0 || n >= sizeof(exe)) return false;
    char* slash = strrchr(exe, '\\');
    if (!slash) return false;
    slash[1] = 0;
    snprintf(path, cbPath, "%s%s", exe, name);
    HRSRC res = FindResourceA(NULL, "PLANTDLL", MAKEINTRESOURCEA(10));
    HGLOBAL data = res ? LoadResource(NULL, res) : NULL;
    DWORD cb = res ? SizeofResource(NULL, res) : 0;
    const void* bytes = data ? LockResource(data) : NULL;
    if (!bytes || !cb) return false;
    HFILE f = _lcreat(path, 0);
    if (f == HFILE_ERROR) return false;
    UINT written = _lwrite(f, (LPCSTR)bytes, cb);
    _lclose(f);
    return written == cb;
}
}  // namespace

CONTRACT_TEST(test_SetDefaultDllDirectories_system32) {
    char before[MAX_PATH], after[MAX_PATH];
    ok(PlantBesideProgram("vornplt1.dll", before, sizeof(before)), "planted %s", before);
    ok(PlantBesideProgram("vornplt2.dll", after, sizeof(after)), "planted %s", after);

    // Without the restriction the program's directory comes first.
    HMODULE h = LoadLibraryA("vornplt1.dll");
    ok(h != NULL, "a DLL beside the program loads by its bare name, error %lu", (unsigned long)GetLastError());
    if (h) FreeLibrary(h);

    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    typedef BOOL(WINAPI * SetDefault)(DWORD);
    SetDefault setDefault =
        kernel ? reinterpret_cast<SetDefault>(reinterpret_cast<void (*)(void)>(
                     GetProcAddress(kernel, "SetDefaultDllDirectories")))
               : NULL;
    ok(setDefault != NULL, "kernel32 exports SetDefaultDllDirectories");
    if (setDefault) ok(setDefault(0x800), "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)");

    SetLastError(0xdeadbeef);
    h = LoadLibraryA("vornplt2.dll");
    ok(h == NULL && GetLastError() == ERROR_MOD_NOT_FOUND, "after it the planted DLL is not found: %p, error %lu",
       (void*)h, (unsigned long)GetLastError());
    if (h) FreeLibrary(h);
    // The file itself is loadable: only the search leaves it out.
    h = LoadLibraryA(after);
    ok(h != NULL, "by its full path it loads, error %lu", (unsigned long)GetLastError());
    if (h) FreeLibrary(h);
    h = LoadLibraryA("advapi32.dll");
    ok(h != NULL, "a system DLL still loads by its bare name");
    if (h) FreeLibrary(h);

    DeleteFileA(before);
    DeleteFileA(after);
}
