/* A minimal input method for the sample payload: a genuine IME DLL with every
 * entry point Windows' input method manager looks up, none of which converts
 * or swallows a key.  It lets a test install, register and activate an input
 * method without the real one.  Built for i686 and x86-64 without the C
 * runtime; its version text lives in the version resource (sampleime.rc). */
#include <windows.h>
#include <imm.h>

/* The DDK's IMEINFO, which the SDK headers do not carry. */
typedef struct {
    DWORD dwPrivateDataSize;
    DWORD fdwProperty;
    DWORD fdwConversionCaps;
    DWORD fdwSentenceCaps;
    DWORD fdwUICaps;
    DWORD fdwSCSCaps;
    DWORD fdwSelectCaps;
} SAMPLE_IMEINFO;

#define SAMPLE_UI_CLASS L"VORNSAMPLEUI"
#define EXPORT __declspec(dllexport)

static LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    WNDCLASSEXW cls;
    BYTE* p = (BYTE*)&cls;
    UINT i;
    if (reason == DLL_PROCESS_ATTACH) {
        for (i = 0; i < sizeof(cls); i++) p[i] = 0;
        cls.cbSize = sizeof(cls);
        cls.style = CS_IME;
        cls.lpfnWndProc = UiWindowProc;
        cls.cbWndExtra = 2 * sizeof(LONG_PTR);
        cls.hInstance = instance;
        cls.lpszClassName = SAMPLE_UI_CLASS;
        RegisterClassExW(&cls);
    } else if (reason == DLL_PROCESS_DETACH) {
        UnregisterClassW(SAMPLE_UI_CLASS, instance);
    }
    return TRUE;
}

EXPORT BOOL WINAPI ImeInquire(SAMPLE_IMEINFO* info, LPWSTR uiClass, DWORD systemInfo) {
    const WCHAR* name = SAMPLE_UI_CLASS;
    int i = 0;
    if (!info || !uiClass) return FALSE;
    info->dwPrivateDataSize = 0;
    info->fdwProperty = IME_PROP_UNICODE | IME_PROP_AT_CARET;
    info->fdwConversionCaps = IME_CMODE_NATIVE;
    info->fdwSentenceCaps = 0;
    info->fdwUICaps = 0;
    info->fdwSCSCaps = 0;
    info->fdwSelectCaps = 0;
    do uiClass[i] = name[i]; while (name[i++]);
    return TRUE;
}

EXPORT BOOL WINAPI ImeConfigure(HKL layout, HWND window, DWORD mode, LPVOID data) { return FALSE; }
EXPORT DWORD WINAPI ImeConversionList(HIMC context, LPCWSTR source, LPCANDIDATELIST dest, DWORD cbDest,
                                      UINT flag) { return 0; }
EXPORT BOOL WINAPI ImeDestroy(UINT reserved) { return TRUE; }
EXPORT LRESULT WINAPI ImeEscape(HIMC context, UINT escape, LPVOID data) { return 0; }
EXPORT BOOL WINAPI ImeProcessKey(HIMC context, UINT key, LPARAM keyData, const BYTE* keyState) { return FALSE; }
EXPORT BOOL WINAPI ImeSelect(HIMC context, BOOL select) { return TRUE; }
EXPORT BOOL WINAPI ImeSetActiveContext(HIMC context, BOOL active) { return TRUE; }
EXPORT UINT WINAPI ImeToAsciiEx(UINT key, UINT scanCode, const BYTE* keyState, LPVOID transBuffer, UINT state,
                                HIMC context) { return 0; }
EXPORT BOOL WINAPI NotifyIME(HIMC context, DWORD action, DWORD index, DWORD value) { return FALSE; }
EXPORT BOOL WINAPI ImeRegisterWord(LPCWSTR reading, DWORD style, LPCWSTR word) { return FALSE; }
EXPORT BOOL WINAPI ImeUnregisterWord(LPCWSTR reading, DWORD style, LPCWSTR word) { return FALSE; }
EXPORT UINT WINAPI ImeGetRegisterWordStyle(UINT count, LPSTYLEBUFW styles) { return 0; }
EXPORT UINT WINAPI ImeEnumRegisterWord(REGISTERWORDENUMPROCW proc, LPCWSTR reading, DWORD style, LPCWSTR word,
                                       LPVOID data) { return 0; }
EXPORT BOOL WINAPI ImeSetCompositionString(HIMC context, DWORD index, LPCVOID comp, DWORD cbComp, LPCVOID read,
                                           DWORD cbRead) { return FALSE; }
