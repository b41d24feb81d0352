// The install context, the installation directory, the Windows version and
// the path record "vornpath.voh" through which a later setup finds this one.
#include "setup/context.h"

#include <stdlib.h>

#include "payload/payload.h"
#include "setup/log.h"
#include "setup/progress.h"
#include "setup/texts.h"

InstallContext g_ctx;

enum { kGbkCodePage = 936 };

void ResetInstallContext(void) {
    memset(&g_ctx, 0, sizeof(g_ctx));
    memset(&g_progress, 0, sizeof(g_progress));
    LogClose();
}

void CopyText(char* dst, size_t cbDst, LPCSTR src) {
    if (cbDst == 0) return;
    snprintf(dst, cbDst, "%s", src ? src : "");
}

void EnsureTrailingBackslash(char* dir, size_t cbDir) {
    size_t n = strlen(dir);
    if (n > 0 && dir[n - 1] != '\\' && n + 1 < cbDir) {
        dir[n] = '\\';
        dir[n + 1] = 0;
    }
}

bool FormatPath(char* out, size_t cbOut, LPCSTR format, LPCSTR a, LPCSTR b) {
    int n = snprintf(out, cbOut, format, a, b);
    if (n < 0 || (size_t)n >= cbOut) {
        // A cut path would name another file: use none.
        if (cbOut) out[0] = 0;
        return false;
    }
    return true;
}

void FetchSystemDirectory(void) {
    UINT n = GetSystemDirectoryA(g_ctx.systemDir, sizeof(g_ctx.systemDir));
    if (n == 0 || n >= sizeof(g_ctx.systemDir)) g_ctx.systemDir[0] = 0;
}

void FetchWindowsDirectory(void) {
    UINT n = GetWindowsDirectoryA(g_ctx.windowsDir, sizeof(g_ctx.windowsDir));
    if (n == 0 || n >= sizeof(g_ctx.windowsDir)) g_ctx.windowsDir[0] = 0;
}

// Opens the path as a directory would be opened; files answer true as well.
bool DirectoryExists(LPCSTR path) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        // Only absence means absent: a directory that exists but cannot be
        // opened just now (sharing, a transient error) must not make a 64-bit
        // Windows look 32-bit and get the wrong input method.
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
        return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }
    CloseHandle(h);
    return true;
}

LPCSTR ResolveInstallDirectory(void) {
    char* dir = g_ctx.installDir;
    if (dir[1] == ':' && dir[2] == '\\') return dir;

    memset(dir, 0, sizeof(g_ctx.installDir));
    char shell[MAX_PATH + 1] = {0};
    if (SHGetSpecialFolderPathA(NULL, shell, CSIDL_PROGRAM_FILES, FALSE))
        CopyText(dir, sizeof(g_ctx.installDir), shell);
    else
        CopyText(dir, sizeof(g_ctx.installDir), DEFAULT_PROGRAM_FILES);

    // "C:\Program Files (x86)" -> "C:\Program Files"
    char* paren = strchr(dir, '(');
    if (paren) {
        *paren = 0;
        size_t n = strlen(dir);
        while (n > 0 && dir[n - 1] == ' ') dir[--n] = 0;
    }
    if (!DirectoryExists(dir)) CopyText(dir, sizeof(g_ctx.installDir), DEFAULT_PROGRAM_FILES);

    EnsureTrailingBackslash(dir, sizeof(g_ctx.installDir));
    size_t n = strlen(dir);
    if (n + strlen(INSTALL_SUBDIR) < sizeof(g_ctx.installDir))
        CopyText(dir + n, sizeof(g_ctx.installDir) - n, INSTALL_SUBDIR);
    else
        CopyText(dir, sizeof(g_ctx.installDir), DEFAULT_PROGRAM_FILES "\\" INSTALL_SUBDIR);
    return dir;
}

bool Is64BitWindows(void) {
    g_ctx.windowsMajor = 0;
    g_ctx.windowsMinor = 0;
    // The extended size (OSVERSIONINFOEXA, 156 bytes) needs room for the
    // extended fields, which Windows fills in.
    union {
        OSVERSIONINFOA info;
        BYTE extended[156];
    } version;
    OSVERSIONINFOA& info = version.info;
    memset(&version, 0, sizeof(version));
    info.dwOSVersionInfoSize = sizeof(version.extended);
    if (!GetVersionExA(&info)) {
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(&info)) info.dwMajorVersion = 0;
    }
    g_ctx.windowsMajor = info.dwMajorVersion;
    g_ctx.windowsMinor = info.dwMinorVersion;
    if (g_ctx.windowsMajor <= 5) return false;  // XP x64 and Server 2003 x64 count as 32-bit
    WowDirectory(g_ctx.wowDir, sizeof(g_ctx.wowDir));
    return g_ctx.wowDir[0] != 0 && DirectoryExists(g_ctx.wowDir);
}

bool IsWindows8OrLater(void) {
    return g_ctx.windowsMajor > 6 || (g_ctx.windowsMajor == 6 && g_ctx.windowsMinor >= 2);
}

void WowDirectory(char* out, size_t cbOut) {
    char windows[100];
    UINT n = GetWindowsDirectoryA(windows, sizeof(windows));
    if (n == 0 || n >= sizeof(windows)) {
        if (cbOut) out[0] = 0;
        return;
    }
    FormatPath(out, cbOut, FMT_WOW_DIR, windows);
}

void FirstFixedDrive(char* out, size_t cbOut) {
    char root[4] = "g:\\";
    if (cbOut) out[0] = 0;
    for (char letter = 'g'; letter >= 'c'; letter--) {
        root[0] = letter;
        if (GetDriveTypeA(root) == DRIVE_FIXED) {
            FormatPath(out, cbOut, FMT_DRIVE_DIR, root);
            return;
        }
    }
}

// Writes the installation directory, without terminator, to `path`, whole
// or not at all; false when the record stays as it was.
static bool WriteRecordFile(LPCSTR path) {
    DWORD cb = (DWORD)strlen(g_ctx.installDir);
    if (!WriteFileWhole(path, g_ctx.installDir, cb)) return false;
    LogFileWritten(PATH_RECORD_NAME, path, cb);
    return true;
}

bool WritePathRecord(void) {
    char path[MAX_PATH];
    FetchWindowsDirectory();
    EnsureTrailingBackslash(g_ctx.installDir, sizeof(g_ctx.installDir));
    bool written = g_ctx.windowsDir[0] && FormatPath(path, sizeof(path), FMT_PATH_RECORD, g_ctx.windowsDir) &&
                   WriteRecordFile(path);
    FetchSystemDirectory();
    if (g_ctx.windowsMajor < 6) return written;

    // Without a fixed drive the second record would land in the current
    // directory under a bare name; nothing reads it, so it is skipped.
    char drive[32];
    FirstFixedDrive(drive, sizeof(drive));
    if (!drive[0]) return written;
    CreateDirectoryA(drive, NULL);
    return FormatPath(path, sizeof(path), FMT_DRIVE_RECORD, drive) && WriteRecordFile(path) && written;
}

void RecoverPathRecords(void) {
    char path[MAX_PATH];
    char drive[32];
    FetchWindowsDirectory();
    if (g_ctx.windowsDir[0] && FormatPath(path, sizeof(path), FMT_PATH_RECORD, g_ctx.windowsDir)) RecoverSetAside(path);
    // A rights probe an interrupted run left beside it is no one's.
    if (g_ctx.windowsDir[0] && FormatPath(path, sizeof(path), FMT_RIGHTS_PROBE, g_ctx.windowsDir)) {
        RecoverSetAside(path);
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) DeleteIfPresent(path);
    }
    FirstFixedDrive(drive, sizeof(drive));
    if (drive[0] && FormatPath(path, sizeof(path), FMT_DRIVE_RECORD, drive)) RecoverSetAside(path);
}

void ReadPathRecord(char* target, size_t cbTarget) {
    char windows[kDirChars];
    char path[MAX_PATH];
    if (cbTarget == 0) return;
    UINT n = GetWindowsDirectoryA(windows, sizeof(windows));
    if (n == 0 || n >= sizeof(windows)) return;
    if (!FormatPath(path, sizeof(path), FMT_PATH_RECORD, windows)) return;
    HFILE f = _lopen(path, OF_READ);
    if (f == HFILE_ERROR) return;
    UINT got = _lread(f, target, (UINT)(cbTarget - 1));
    if (got == (UINT)HFILE_ERROR) got = 0;
    target[got] = 0;
    _lclose(f);
}

void NoteFailure(void) { g_ctx.quietFailures++; }

static LPCSTR AnswerName(int answer) {
    switch (answer) {
        case IDOK: return LOG_ANSWER_OK;
        case IDYES: return LOG_ANSWER_YES;
        case IDNO: return LOG_ANSWER_NO;
        default: return LOG_ANSWER_OTHER;
    }
}

// `text` (GBK) as UTF-16, to be freed by the caller; NULL when the system
// cannot convert GBK or memory runs out.
static WCHAR* GbkToWide(LPCSTR text) {
    int cch = MultiByteToWideChar(kGbkCodePage, 0, text, -1, NULL, 0);
    if (cch <= 0) return NULL;
    WCHAR* wide = (WCHAR*)malloc((size_t)cch * sizeof(WCHAR));
    if (wide && MultiByteToWideChar(kGbkCodePage, 0, text, -1, wide, cch) == cch) return wide;
    free(wide);
    return NULL;
}

int ShowMessageA(LPCSTR text, LPCSTR title, UINT type, int quietAnswer) {
    // GBK reads as mojibake under any other ANSI code page (a Big5 system):
    // there the message is shown, and logged, wide.  Where GBK cannot be
    // converted it goes out as it is.
    if (GetACP() != kGbkCodePage) {
        WCHAR* wideText = GbkToWide(text ? text : "");
        WCHAR* wideTitle = wideText ? GbkToWide(title ? title : "") : NULL;
        if (wideTitle) {
            int answer = ShowMessageW(wideText, wideTitle, type, quietAnswer);
            free(wideTitle);
            free(wideText);
            return answer;
        }
        free(wideText);
    }
    int answer = g_ctx.quiet ? quietAnswer : MessageBoxA(NULL, text, title, type);
    LogEvent(LOG_MESSAGE, title ? title : "", text ? text : "", AnswerName(answer), g_ctx.quiet ? LOG_NOT_SHOWN : "");
    return answer;
}

int ShowMessageW(LPCWSTR text, LPCWSTR title, UINT type, int quietAnswer) {
    int answer = g_ctx.quiet ? quietAnswer : MessageBoxW(NULL, text, title, type);
    if (LogEnabled()) {
        // The title and text stay UTF-16 to the log; only the answer is formatted here.
        char format[128];
        snprintf(format, sizeof(format), LOG_MESSAGE, "%s", "%s", AnswerName(answer),
                 g_ctx.quiet ? LOG_NOT_SHOWN : "");
        LogEventW(format, title, text);
    }
    return answer;
}

int ShowFailureA(LPCSTR text, LPCSTR title) {
    g_ctx.reportedFailures++;
    return ShowMessageA(text, title, MB_OK);
}

int ShowFailureW(LPCWSTR text, LPCWSTR title) {
    g_ctx.reportedFailures++;
    return ShowMessageW(text, title, MB_OK);
}
