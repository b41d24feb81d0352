/* imeholder: a stand-in for a program that uses the input method, for the
 * Wine GUI scenarios (test code, never shipped).
 *
 *   imeholder64.exe [window|mapping][;w:FILE|;x:FILE ...]
 *   imeholder64.exe load <path>
 *   imeholder64.exe watch <dir>
 *
 * "window" (the default): a main window titled "测试文档 - 记事本", an owned
 * pop-up window of the input method's UI class "UITAVK", and the input
 * method's shared memory "vornhutavk".  "mapping": the shared memory only.
 * Each "w:" file is kept open for reading and writing, sharing both, as the
 * input method keeps its dictionaries; each "x:" file is kept open with no
 * sharing at all (exit code 2 when one cannot be opened).  "load <path>": the
 * shared memory and the DLL <path> loaded, then "loaded" on standard output.
 * It then waits until its main window is closed or the process is ended.
 * "watch <dir>": a program of the user that puts its own bytes in place of
 * every program in <dir> (*.exe, *.ime, *.dll) as soon as it is there, and
 * again each time the setup writes it, until the process is ended; each
 * replacement is one line "replaced <name>" on standard output. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

/* Opens the files of the command line (quotes dropped, ";" between the
 * words); FALSE when one cannot be opened.  Handles stay open until exit. */
static BOOL HoldFiles(char* words) {
    char* word = words;
    while (word) {
        char* next = strchr(word, ';');
        if (next) *next++ = 0;
        if ((word[0] == 'w' || word[0] == 'x') && word[1] == ':') {
            DWORD share = word[0] == 'w' ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
            HANDLE file = CreateFileA(word + 2, GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_EXISTING, 0, NULL);
            if (file == INVALID_HANDLE_VALUE) return FALSE;
        }
        word = next;
    }
    return TRUE;
}

static const char kUserBytes[] = "USERPROG: the user's own program";

static BOOL IsProgramName(const char* name) {
    size_t n = strlen(name);
    return n > 4 && (!lstrcmpiA(name + n - 4, ".exe") || !lstrcmpiA(name + n - 4, ".ime") ||
                     !lstrcmpiA(name + n - 4, ".dll"));
}

/* Rewrites `path` with the user's bytes unless it holds them already. */
static BOOL ReplaceProgram(const char* path) {
    char head[sizeof(kUserBytes)] = {0};
    DWORD cb = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    BOOL done = FALSE;
    if (ReadFile(file, head, sizeof(kUserBytes) - 1, &cb, NULL) && strcmp(head, kUserBytes) != 0 &&
        SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 && SetEndOfFile(file))
        done = WriteFile(file, kUserBytes, sizeof(kUserBytes) - 1, &cb, NULL);
    CloseHandle(file);
    return done;
}

static __attribute__((noreturn)) void WatchDirectory(const char* dir) {
    char pattern[MAX_PATH], path[MAX_PATH], line[MAX_PATH + 16];
    WIN32_FIND_DATAA found;
    DWORD written;
    snprintf(pattern, sizeof(pattern), "%s\\*", dir);
    for (;;) {
        HANDLE find = FindFirstFileA(pattern, &found);
        if (find == INVALID_HANDLE_VALUE) {
            Sleep(1);
            continue;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsProgramName(found.cFileName)) continue;
            snprintf(path, sizeof(path), "%s\\%s", dir, found.cFileName);
            if (ReplaceProgram(path)) {
                int n = snprintf(line, sizeof(line), "replaced %s\n", found.cFileName);
                WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)n, &written, NULL);
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
}

static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)show;
    static char words[4096];
    size_t n = 0;
    BOOL load = strncmp(commandLine, "load ", 5) == 0;
    DWORD written;
    for (const char* c = commandLine; *c && n + 1 < sizeof(words); c++)
        if (*c != '"') words[n++] = *c;
    words[n] = 0;
    if (strncmp(words, "watch ", 6) == 0) WatchDirectory(words + 6);
    BOOL windows = strncmp(words, "mapping", 7) != 0 && !load;
    if (load) {
        if (LoadLibraryA(commandLine + 5)) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "loaded\n", 7, &written, NULL);
    } else if (!HoldFiles(words)) {
        return 2;
    }
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4096, "vornhutavk");
    WNDCLASSW cls;
    MSG msg;
    ZeroMemory(&cls, sizeof(cls));
    cls.lpfnWndProc = MainProc;
    cls.hInstance = instance;
    cls.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    cls.lpszClassName = L"VornHolderMain";
    RegisterClassW(&cls);
    cls.lpfnWndProc = DefWindowProcW;
    cls.lpszClassName = L"UITAVK";
    RegisterClassW(&cls);
    /* The main window exists in both modes: it is what ends the program. */
    HWND main = CreateWindowExW(0, L"VornHolderMain", windows ? L"测试文档 - 记事本" : L"vornhutavk holder",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 240, 120, NULL, NULL, instance, NULL);
    if (windows) CreateWindowExW(0, L"UITAVK", L"", WS_POPUP, 0, 0, 1, 1, main, NULL, instance, NULL);
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (mapping) CloseHandle(mapping);
    return 0;
}
