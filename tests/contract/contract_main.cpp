// Runs every registered contract test in a clean scratch directory and ends
// with "N passed, N failed".
#include <stdlib.h>

#include <vector>

#include "tests/contract/contract.h"

#ifndef _WIN32
#include "sim/machine.h"
#endif

namespace contract {

int g_passed = 0;
int g_failed = 0;
const char* g_test = "";
bool g_onWine = false;
char g_dir[MAX_PATH] = "C:\\vorncontract";

struct Entry {
    const char* name;
    TestFn fn;
};
static std::vector<Entry>& Tests() {
    static std::vector<Entry> tests;
    return tests;
}

Registrar::Registrar(const char* name, TestFn fn) { Tests().push_back(Entry{name, fn}); }

void Check(bool condition, const char* file, int line, const char* format, ...) {
    if (condition) {
        g_passed++;
        return;
    }
    g_failed++;
    const char* base = strrchr(file, '/');
    printf("%s:%d: %s: Test failed: ", base ? base + 1 : file, line, g_test);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
}

const char* Path(const char* name) {
    static char buffers[4][MAX_PATH];
    static int next = 0;
    char* out = buffers[next++ % 4];
    // A name that does not fit is a bug of the test: it shows as a failure.
    if (snprintf(out, MAX_PATH, "%s\\%s", g_dir, name) >= MAX_PATH) Check(false, __FILE__, __LINE__, "long name");
    return out;
}

bool MakeFile(const char* name, const char* bytes, size_t length) {
    HFILE f = _lcreat(Path(name), 0);
    if (f == HFILE_ERROR) return false;
    UINT n = _lwrite(f, bytes, (UINT)length);
    _lclose(f);
    return n == length;
}

static void CleanDirectory(const char* dir) {
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof(pattern), "%s\\*.*", dir);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!strcmp(data.cFileName, ".") || !strcmp(data.cFileName, "..")) continue;
        char path[MAX_PATH];
        if (snprintf(path, sizeof(path), "%s\\%s", dir, data.cFileName) >= (int)sizeof(path)) continue;
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CleanDirectory(path);
            RemoveDirectoryA(path);
        } else {
            DeleteFileA(path);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

void CleanScratch(void) { CleanDirectory(g_dir); }

}  // namespace contract

int main(int argc, char** argv) {
#ifdef _WIN32
    contract::g_onWine = true;
#else
    sim::Machine machine;
    machine.Make64Bit(false);
    // The program file, and the DLL the suite carries as its resource.
    machine.AddFile(machine.exePath, "MZ contract");
    machine.resources.push_back({"#10", "PLANTDLL", 0, sim::ToBytes("MZ plant")});
#endif
    CreateDirectoryA(contract::g_dir, NULL);
    const char* only = argc > 1 ? argv[1] : NULL;
    for (const contract::Entry& t : contract::Tests()) {
        if (only && strcmp(only, t.name) != 0) continue;
        contract::g_test = t.name;
        contract::CleanScratch();
        t.fn();
    }
    contract::CleanScratch();
    RemoveDirectoryA(contract::g_dir);
    printf("%s: %d passed, %d failed\n", contract::g_onWine ? "wine" : "sim", contract::g_passed, contract::g_failed);
    return contract::g_failed ? 1 : 0;
}
