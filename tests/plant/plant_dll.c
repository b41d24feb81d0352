/* Test DLL, never shipped: the contract suite plants copies of it beside
   itself under made-up names and checks which ones a bare-name load finds. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
