// Start-up: the command line decides between the 64-bit registration, the
// silent install and the interactive setup window.
#include "imereg/imereg.h"
#include "payload/payload.h"
#include "payload/texts.h"
#include "setup/context.h"
#include "setup/log.h"
#include "setup/texts.h"
#include "userdata/userdata.h"
#include "ui/window.h"

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

// Writes the probe text to a file beside the path record and reads it back
// into `probe` ("" when either fails); the file goes again.
static void ProbeWindowsDirectory(char* probe, size_t cbProbe) {
    char path[MAX_PATH];
    probe[0] = 0;
    FetchWindowsDirectory();
    if (!g_ctx.windowsDir[0] || !FormatPath(path, sizeof(path), FMT_RIGHTS_PROBE, g_ctx.windowsDir)) return;
    if (!WriteFileWhole(path, PROBE_TEXT, (DWORD)strlen(PROBE_TEXT))) return;
    HFILE file = _lopen(path, OF_READ);
    if (file != HFILE_ERROR) {
        UINT got = _lread(file, probe, (UINT)(cbProbe - 1));
        probe[got == (UINT)HFILE_ERROR ? 0 : got] = 0;
        _lclose(file);
    }
    DeleteFileA(path);
}

bool AdministratorCheck(void) {
    RecoverPathRecords();
    ReadPathRecord(g_ctx.previousDir, sizeof(g_ctx.previousDir));
    Is64BitWindows();
    if (g_ctx.windowsMajor < 6) return false;

    // Only a process with administrator rights can write into the Windows
    // directory.  The probe goes through a file of its own: the record
    // itself is only ever rewritten whole with the real directory, so the
    // check can neither cut it nor leave the probe text in it.
    char probe[kDirChars];
    ProbeWindowsDirectory(probe, sizeof(probe));
    WritePathRecord();
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

// ---- words for unattended installs ------------------------------------------

enum { kTokenBytes = MAX_PATH + 16, kModeLineBytes = 4096 };

// What the administrator asked for, and the command line the run-mode words
// are looked for in: the log word's span blanked, so that a log path holding
// "regvo32" or "setvosrf32" does not choose the run mode.
struct AdminWords {
    bool quiet;
    bool help;  // "/?" or "/help"
    bool urlGiven;
    char url[kTokenBytes];  // the bytes after "/url=" (cut to the organisation address when given)
    bool perUser;  // "/peruser": the per-user step of a logon
    char logPath[kTokenBytes];
    char modeLine[kModeLineBytes];
};

static AdminWords s_words;

static bool SameAscii(LPCSTR a, LPCSTR lowerWord, size_t n) {
    for (size_t i = 0; i < n; i++) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != lowerWord[i]) return false;
    }
    return true;
}

// Reads one word from `*p` as Windows splits a command line: blanks outside
// quotes end it, quotes are dropped (backslashes stay as they are: a path's
// own).  False, with the word cut, when it does not fit `cbWord`.
static bool NextWord(LPCSTR* p, char* word, size_t cbWord) {
    const char* s = *p;
    size_t n = 0;
    bool quoted = false, fits = true;
    for (; *s && (quoted || (*s != ' ' && *s != '\t')); s++) {
        if (*s == '"') {
            quoted = !quoted;
            continue;
        }
        if (n + 1 < cbWord)
            word[n++] = *s;
        else
            fits = false;
    }
    word[n] = 0;
    *p = s;
    return fits;
}

// The silent install's words: "/quiet", "/log=<path>" and "/url=<address>";
// and "/?" or "/help".  Other words are left to the run-mode test, as before.
static void ReadAdminWords(LPCSTR commandLine) {
    memset(&s_words, 0, sizeof(s_words));
    size_t cbLine = strlen(commandLine);
    bool blank = cbLine < sizeof(s_words.modeLine);
    if (blank) memcpy(s_words.modeLine, commandLine, cbLine + 1);
    char word[kTokenBytes];
    LPCSTR p = commandLine;
    while (*p) {
        while (*p == ' ' || *p == '\t') p++;
        if (!*p) break;
        LPCSTR start = p;
        bool fits = NextWord(&p, word, sizeof(word));
        size_t cbLog = strlen(WORD_LOG);
        if (fits && strlen(word) == strlen(WORD_QUIET) && SameAscii(word, WORD_QUIET, strlen(WORD_QUIET))) {
            s_words.quiet = true;
        } else if (fits && (strcmp(word, WORD_HELP_SHORT) == 0 ||
                            (strlen(word) == strlen(WORD_HELP) && SameAscii(word, WORD_HELP, strlen(WORD_HELP))))) {
            s_words.help = true;
        } else if (fits && strlen(word) == strlen(WORD_PERUSER) && SameAscii(word, WORD_PERUSER, strlen(WORD_PERUSER))) {
            s_words.perUser = true;
        } else if (strlen(word) >= cbLog && SameAscii(word, WORD_LOG, cbLog)) {
            // A cut path would name another file: no log then.
            if (fits) CopyText(s_words.logPath, sizeof(s_words.logPath), word + cbLog);
            if (blank) memset(s_words.modeLine + (start - commandLine), ' ', (size_t)(p - start));
        } else if (strlen(word) >= strlen(WORD_URL) && SameAscii(word, WORD_URL, strlen(WORD_URL))) {
            // An address is cut to 99 bytes anyway, as the options page cuts it.
            CopyText(s_words.url, sizeof(s_words.url), word + strlen(WORD_URL));
            s_words.urlGiven = true;
            if (blank) memset(s_words.modeLine + (start - commandLine), ' ', (size_t)(p - start));
        }
    }
    if (!blank) CopyText(s_words.modeLine, sizeof(s_words.modeLine), "");
}

static LPCSTR ModeLine(LPCSTR commandLine) { return s_words.modeLine[0] ? s_words.modeLine : commandLine; }

// The 64-bit registration program takes the setting from the setup that
// started it, through the environment.
static void ReadInheritedWords(void) {
    char value[kTokenBytes];
    DWORD n = GetEnvironmentVariableA(ENV_QUIET, value, sizeof(value));
    s_words.quiet = n > 0 && n < sizeof(value) && strcmp(value, ENV_QUIET_ON) == 0;
    n = GetEnvironmentVariableA(ENV_LOG, value, sizeof(value));
    if (n > 0 && n < sizeof(value)) CopyText(s_words.logPath, sizeof(s_words.logPath), value);
}

static void LogStart(LPCSTR commandLine) {
    if (!LogEnabled()) return;
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) memset(&info, 0, sizeof(info));
    bool is64 = Is64BitWindows();
    // The command line and the directory are the system's texts: left as
    // "%s" here, they are converted from its code page, the rest from ours.
    char format[512];
    snprintf(format, sizeof(format), LOG_START, (int)(8 * sizeof(void*)), "%s", (unsigned long)info.dwMajorVersion,
             (unsigned long)info.dwMinorVersion, (unsigned long)info.dwBuildNumber, is64 ? LOG_BITS_64 : LOG_BITS_32,
             g_ctx.oemCodePage, GetACP(), "%s");
    LogEventAnsi(format, commandLine, g_ctx.installDir);
    if (g_ctx.quiet) LogEvent(LOG_QUIET);
}

static int LogEnd(int exitCode, LPCSTR meaning) {
    LogEvent(LOG_END, exitCode, meaning, (unsigned long)LogElapsed());
    return exitCode;
}

static LPCSTR SilentExitMeaning(int exitCode) {
    switch (exitCode) {
        case kExitOk: return LOG_EXIT_OK;
        case kExitStepFailed: return LOG_EXIT_STEP_FAILED;
        case kExitImeLocked: return LOG_EXIT_IME_LOCKED;
        case kExitNoPayload: return LOG_EXIT_NO_PAYLOAD;
        case kExitRestartNeeded: return LOG_EXIT_RESTART;
        case kExitAnotherSetup: return LOG_EXIT_ANOTHER_SETUP;
        default: return LOG_EXIT_NOT_ADMIN;
    }
}

// ---- run modes -------------------------------------------------------------

// The per-user step, as every user's logon runs it: never elevated, nothing
// shown, nothing but this user's settings changed; no rights check, no path
// record, no probe.
static int RunPerUserMode(LPCSTR commandLine) {
    g_ctx.quiet = 1;
    if (s_words.logPath[0]) LogOpen(s_words.logPath);
    LogStart(commandLine);
    RunPerUserStep();
    return LogEnd(0, LOG_EXIT_PERUSER);
}

static int RunRegistrationMode(LPCSTR commandLine) {
    ParseRegistrationDirectory(commandLine);
    LogEventAnsi(LOG_MODE_REGISTER, g_ctx.installDir);
    WritePathRecord();
    RegisterImeLayout();
    AddLayoutToUserProfiles((DWORD)(ULONG_PTR)g_installedLayout);
    ShowMessageW(MSG_REGISTERED_W, TITLE_VORN_W, MB_OK);
    return LogEnd(0, LOG_EXIT_REGISTERED);
}

static int RunSilentInstall(void) {
    LogEvent(LOG_MODE_SILENT);
    if (s_words.urlGiven) SetOrganisationAddress(s_words.url);
    int exitCode = kExitOk;
    if (!OpenPayload()) {
        // Nothing could be unpacked or checked: nothing is touched, as in the window.
        LogEvent(LOG_PAYLOAD_MISSING);
        ShowFailureA(MSG_UNPACK_INCOMPLETE, PAYLOAD_TITLE_PLACE);
        exitCode = kExitNoPayload;
    } else {
        RunInstallSequence();
        if (g_ctx.sequenceStopped)
            exitCode = kExitImeLocked;
        else if (g_ctx.reportedFailures || g_ctx.quietFailures)
            exitCode = kExitStepFailed;
        else if (g_ctx.restartNeeded || g_ctx.oldImeInUse)
            exitCode = kExitRestartNeeded;
    }
    ClosePayload();
    FinishRegistration64();
    return LogEnd(exitCode, SilentExitMeaning(exitCode));
}

// The words and exit codes, before anything is written: no rights probe,
// no install.  A quiet run keeps its promise of no box; the help then goes
// to the log, when there is one.
static int ShowHelp(LPCSTR commandLine) {
    g_ctx.quiet = s_words.quiet ? 1 : 0;
    if (s_words.logPath[0]) LogOpen(s_words.logPath);
    ResolveInstallDirectory();
    LogStart(commandLine);
    ShowMessageW(MSG_HELP_W, TITLE_INSTALL_W, MB_OK);
    return LogEnd(0, LOG_EXIT_HELP);
}

static int RunInteractive(HINSTANCE instance, int showCommand) {
    if (!RegisterSetupWindowClass(instance)) return 0;
    if (!CreateSetupWindow(instance, showCommand)) return 0;
    int exitCode = RunMessageLoop();
    FinishRegistration64();
    return exitCode;
}

static int RunSetup(HINSTANCE instance, LPCSTR commandLine, int showCommand) {
    RestrictDllSearch();
    SetOwnedFileNames(InstallFileNames());
    if (!commandLine) commandLine = "";
    g_ctx.instance = instance;
    g_ctx.currentPage = 0;
    g_ctx.oemCodePage = GetOEMCP();
    g_ctx.runState = kRunInteractive;

    // "/quiet" counts for the silent install and the 64-bit registration
    // only: the window is for a person at the screen.  "/log=" counts for
    // every mode: support staff ask a user for the log of a window's install.
    ReadAdminWords(commandLine);
    LPCSTR modeLine = ModeLine(commandLine);
    bool registration = ContainsWord(modeLine, WORD_REGISTER);
    bool silent = !registration && ContainsWord(modeLine, WORD_SILENT);
    if (!registration && s_words.perUser) return RunPerUserMode(commandLine);
    // The registration program's command line ends with a directory, which
    // may hold a word like "/help": it never asks for the help.
    if (s_words.help && !registration) return ShowHelp(commandLine);
    if (registration) ReadInheritedWords();
    if (registration || silent) g_ctx.quiet = s_words.quiet ? 1 : 0;
    if (s_words.logPath[0]) LogOpen(s_words.logPath);
    ResolveInstallDirectory();
    LogStart(commandLine);

    // Before anything is written: the rights check rewrites the path records.
    g_ctx.commandMode = registration ? kCommandRegister : kCommandNone;
    if (AnotherSetupRuns()) {
        ShowMessageW(MSG_ANOTHER_SETUP_W, TITLE_INSTALL_W, MB_OK);
        return LogEnd(kExitAnotherSetup, LOG_EXIT_ANOTHER_SETUP);
    }

    LogEvent(LOG_RIGHTS_CHECK);
    if (AdministratorCheck()) {
        LogEvent(LOG_RIGHTS_MISSING);
        ShowMessageW(MSG_NEED_ADMIN_W, TITLE_VORN_W, MB_OK);
        return silent ? LogEnd(kExitNotAdministrator, LOG_EXIT_NOT_ADMIN) : LogEnd(0, LOG_EXIT_RIGHTS_SHOWN);
    }

    g_ctx.commandMode = kCommandNone;
    if (registration)
        g_ctx.commandMode = kCommandRegister;
    else if (silent)
        g_ctx.runState = kRunSilent;

    bool is64 = Is64BitWindows();
    if (is64 && g_ctx.commandMode == kCommandRegister) return RunRegistrationMode(commandLine);
    if (g_ctx.runState == kRunSilent) return RunSilentInstall();
    g_ctx.quiet = 0;
    LogEvent(LOG_MODE_WINDOW);
    return LogEnd(RunInteractive(instance, showCommand), LOG_EXIT_WINDOW);
}

int SetupMain(HINSTANCE instance, LPCSTR commandLine, int showCommand) {
    int exitCode = RunSetup(instance, commandLine, showCommand);
    ReleaseSetupLock();
    return exitCode;
}
