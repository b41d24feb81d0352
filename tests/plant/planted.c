/* Test program, never shipped: planted at C:\Program.exe by the Wine tests.
   If anything starts it, it leaves C:\vorn-planted.txt with its command line. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    HANDLE f = CreateFileA("C:\\vorn-planted.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        const char* line = GetCommandLineA();
        DWORD written = 0;
        WriteFile(f, line, lstrlenA(line), &written, NULL);
        CloseHandle(f);
    }
    (void)instance;
    (void)commandLine;
    (void)previous;
    (void)show;
    return 0;
}
