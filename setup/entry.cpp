// Start-up: the command line decides between the 64-bit registration, the
// silent install and the interactive setup window.
#include "imereg/imereg.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/texts.h"
#include "ui/window.h"

// GetProcAddress hands back a generic function pointer; going through
// void(*)(void) keeps the compiler from warning about the cast.
template <typename T>
static T ProcAs(FARPROC proc) {
    return reinterpret_cast<T>(reinterpret_cast<void (*)(void)>(proc));
}

bool ContainsWord(LPCSTR text, LPCSTR word) {
    if (!text || !word || !*text) return false;
    size_t cchWord = strlen(word);
    for (size_t i = 0; text[i]; i++) {
        size_t k = 0;
        for (; k < cchWord; k++) {
            char c = text[i + k];
            if (c == 0) break;
            if (c == word[k]) continue;
            if (!(c >= 'A' && c <= 'Z' && (char)(c - 'A' + 'a') == word[k])) break;
        }
        if (k == cchWord) return true;
    }
    return false;
}

bool AdministratorCheck(void) {
    ReadPathRecord(g_ctx.previousDir, sizeof(g_ctx.previousDir));
    Is64BitWindows();
    if (g_ctx.windowsMajor < 6) return false;

    // Write a probe into the record in the Windows directory and read it back:
    // only a process with administrator rights can change that file.
    char saved[kDirChars];
    char probe[kDirChars];
    CopyText(saved, sizeof(saved), g_ctx.installDir);
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), PROBE_TEXT);
    WritePathRecord();
    memset(g_ctx.installDir, 0, sizeof(g_ctx.installDir));
    ReadPathRecord(g_ctx.installDir, sizeof(g_ctx.installDir));
    CopyText(probe, sizeof(probe), g_ctx.installDir);
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), saved);
    WritePathRecord();

    size_t n = strlen(probe);
    if (n > 0 && probe[n - 1] == '\\') probe[n - 1] = 0;
    return strcmp(probe, PROBE_TEXT) != 0;
}

// The directory after "regvo32=", when the first "r" of the command line
// starts exactly that word (case-sensitive); otherwise the default stays.
// A directory too long for the buffer keeps the default too: cut, it could
// end inside a double-byte character and would name another directory.
static void ParseRegistrationDirectory(LPCSTR commandLine) {
    const char* r = strchr(commandLine, 'r');
    if (!r || strncmp(r, WORD_REGISTER_DIR, strlen(WORD_REGISTER_DIR)) != 0) return;
    LPCSTR dir = r + strlen(WORD_REGISTER_DIR);
    if (strlen(dir) >= sizeof(g_ctx.installDir)) return;
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), dir);
}

// DLLs come from the system directory only, before anything can load one:
// the setup program runs elevated from a download folder, where a planted
// DLL of a name Windows looks for beside the program would run with it.
void RestrictDllSearch(void) {
    HMODULE kernel = GetModuleHandleA(DLL_KERNEL32_NAME);
    if (!kernel) return;
    VORN_SETDEFAULTDLLDIRS setDefault =
        ProcAs<VORN_SETDEFAULTDLLDIRS>(GetProcAddress(kernel, FN_SET_DEFAULT_DLL_DIRECTORIES));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Older systems: at least the current directory leaves the search.
    VORN_SETDLLDIRW setDirectory = ProcAs<VORN_SETDLLDIRW>(GetProcAddress(kernel, FN_SET_DLL_DIRECTORY_W));
    if (setDirectory) setDirectory(WSZ(""));
}

static int RunRegistrationMode(LPCSTR commandLine) {
    ParseRegistrationDirectory(commandLine);
    WritePathRecord();
    RegisterImeLayout();
    MessageBoxW(NULL, MSG_REGISTERED_W, TITLE_VORN_W, MB_OK);
    return 0;
}

static int RunSilentInstall(void) {
    bool payloadReady = OpenPayload();
    RunInstallSequence();
    ClosePayload();
    if (g_ctx.sequenceStopped) return kExitImeLocked;
    if (!payloadReady) return kExitNoPayload;
    return g_ctx.reportedFailures || g_ctx.quietFailures ? kExitStepFailed : kExitOk;
}

static int RunInteractive(HINSTANCE instance, int showCommand) {
    if (!RegisterSetupWindowClass(instance)) return 0;
    if (!CreateSetupWindow(instance, showCommand)) return 0;
    return RunMessageLoop();
}

int SetupMain(HINSTANCE instance, LPCSTR commandLine, int showCommand) {
    RestrictDllSearch();
    if (!commandLine) commandLine = "";
    g_ctx.instance = instance;
    g_ctx.currentPage = 0;
    g_ctx.oemCodePage = GetOEMCP();
    g_ctx.runState = kRunInteractive;
    ResolveInstallDirectory();

    if (AdministratorCheck()) {
        MessageBoxW(NULL, MSG_NEED_ADMIN_W, TITLE_VORN_W, MB_OK);
        bool silent = !ContainsWord(commandLine, WORD_REGISTER) && ContainsWord(commandLine, WORD_SILENT);
        return silent ? kExitNotAdministrator : 0;
    }

    g_ctx.commandMode = kCommandNone;
    if (ContainsWord(commandLine, WORD_REGISTER))
        g_ctx.commandMode = kCommandRegister;
    else if (ContainsWord(commandLine, WORD_SILENT))
        g_ctx.runState = kRunSilent;

    bool is64 = Is64BitWindows();
    if (is64 && g_ctx.commandMode == kCommandRegister) return RunRegistrationMode(commandLine);
    if (g_ctx.runState == kRunSilent) return RunSilentInstall();
    return RunInteractive(instance, showCommand);
}
