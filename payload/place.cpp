// Placement of the program files: the input method reaches the system
// directory (and SysWOW64 on 64-bit Windows) under the one name
// "vornhu4.ime", the uninstaller reaches the system directory, and the
// companion program becomes the variant that suits the Windows version.
//
// The unpack pass (before the layout is registered) places small stubs whose
// version text is patched to 7.7; the re-place pass puts the full input
// methods over them.  Files Windows holds loaded are moved aside and the
// copy is tried again.
#include "imereg/imereg.h"
#include "payload/payload.h"
#include "payload/texts.h"
#include "setup/context.h"
#include "setup/log.h"
#include "setup/progress.h"
#include "userdata/userdata.h"

enum { kPatchLimit = 131072, kVersionTextChars = 8, kPaintPauseMs = 50 };

// Installation-directory path of `name`; "" when it does not fit.
static void InstallPath(char* path, size_t cbPath, LPCSTR name) {
    FormatPath(path, cbPath, FMT_IN_DIR, g_ctx.installDir, name);
}

static void ReportCopyFailure(LPCSTR target) {
    char text[MAX_PATH + 128];
    snprintf(text, sizeof(text), MSG_COPY_FAILED_FMT, target);
    ShowFailureA(text, PAYLOAD_TITLE_PLACE);
}

// The bare name of a path, for the log.  A double-byte character's second
// byte may be "\": it is stepped over with its lead byte.
static LPCSTR BaseName(LPCSTR path) {
    LPCSTR name = path;
    for (LPCSTR p = path; *p; p++) {
        if ((BYTE)*p >= 0x81 && p[1]) {
            p++;
            continue;
        }
        if (*p == '\\') name = p + 1;
    }
    return name;
}

// The copy and its one retry, file calls only (it may run with WOW64
// redirection off); true when the target holds the source's bytes.  A
// source that is not there never moves the target aside: the machine would
// lose a working input method for nothing.
static bool CopyWithRetry(LPCSTR source, LPCSTR target) {
    SetFileAttributesA(target, FILE_ATTRIBUTE_ARCHIVE);
    if (CopyFileA(source, target, FALSE)) return true;
    if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES) return false;
    // Moved aside, a loaded input method stays in use until Windows restarts.
    if (RenameAside(target) == 0) g_ctx.restartNeeded = 1;
    return CopyFileA(source, target, FALSE) != FALSE;
}

// Copies over `target`; a target Windows holds loaded is moved aside and the
// copy tried once more.  Placement goes on after a failure.
void CopyIntoPlace(LPCSTR source, LPCSTR target) {
    if (CopyWithRetry(source, target))
        LogFilePlaced(BaseName(source), target, source);
    else
        ReportCopyFailure(target);
}

// The stubs and setupw64.exe carry "智能砚舟输入平台  6.3" (or 6.7) in UTF-16LE;
// the registration takes that text as the layout text, so it must say 7.7.
// Files above 128 KiB are not ours to patch and stay untouched, as does a
// file that cannot be read whole.
void PatchVersionText(LPCSTR path) {
    BYTE* data = g_ctx.workBuffer;
    if (!data) return;
    // A file that is there but cannot be read or rewritten keeps an old
    // version text, or is lost: noted.
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) {
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) NoteFailure();
        return;
    }
    // One byte more than the limit tells a longer file apart.
    UINT got = _lread(file, data, kPatchLimit + 1);
    _lclose(file);
    if (got == (UINT)HFILE_ERROR) NoteFailure();
    if (got == (UINT)HFILE_ERROR || got > kPatchLimit) return;

    static const WCHAR kText[] = VERSION_TEXT_W;
    BYTE pattern[2 * kVersionTextChars];
    for (int k = 0; k < kVersionTextChars; k++) {
        pattern[2 * k] = (BYTE)(kText[k] & 0xFF);
        pattern[2 * k + 1] = (BYTE)(kText[k] >> 8);
    }
    DWORD n = got;
    DWORD i = 0;
    while (i + sizeof(pattern) <= n) {
        if (memcmp(data + i, pattern, sizeof(pattern)) != 0) {
            i++;
            continue;
        }
        // "  6.3": only the low bytes of the wide characters are looked at.
        DWORD j = i + sizeof(pattern);
        if (j + 8 < n && data[j] == 0x20 && data[j + 4] == '6' && data[j + 6] == '.' &&
            (data[j + 8] == '3' || data[j + 8] == '7')) {
            data[j + 4] = '7';
            data[j + 8] = '7';
        }
        i += sizeof(pattern) + 1;
    }
    file = _lcreat(path, 0);
    if (file == HFILE_ERROR) {
        NoteFailure();
        return;
    }
    UINT written = _lwrite(file, (LPCSTR)data, n);
    if (written != n) NoteFailure();
    _lclose(file);
    if (written == n) LogEvent(LOG_VERSION_PATCHED, path, (unsigned long)n);
}

// Copies within the installation directory; failures pass silently.
static void CopyInInstallDir(LPCSTR sourceName, LPCSTR targetName) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    InstallPath(source, sizeof(source), sourceName);
    InstallPath(target, sizeof(target), targetName);
    if (source[0] && target[0] && CopyFileA(source, target, FALSE)) LogFilePlaced(sourceName, target, source);
}

static void ResetAndDelete(LPCSTR name) {
    char path[MAX_PATH];
    InstallPath(path, sizeof(path), name);
    if (!path[0]) return;
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    DeleteIfPresent(path);
}

// Vista and later want the companion program built for them.
static void UseVistaCompanion(void) {
    char variant[MAX_PATH];
    char companion[MAX_PATH];
    ResetAndDelete(NAME_COMPANION);
    InstallPath(variant, sizeof(variant), NAME_COMPANION6);
    InstallPath(companion, sizeof(companion), NAME_COMPANION);
    if (variant[0] && companion[0]) {
        if (MoveFileA(variant, companion))
            LogFilePlaced(NAME_COMPANION6, companion, companion);
        else
            NoteFailure();
    }
}

// The input method (or its stub) into `dir`\vornhu4.ime.  The stub gets its
// version text patched first.
static void PlaceIme(LPCSTR sourceName, bool patch, LPCSTR dir, bool systemDir) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    InstallPath(source, sizeof(source), sourceName);
    // No directory would make the target the root of the current drive; the
    // input method is then not in place, which is reported like a failed copy.
    if (!source[0] || !dir[0] || !FormatPath(target, sizeof(target), FMT_SYSTEM_IME, dir)) {
        snprintf(target, sizeof(target), FMT_SYSTEM_IME, dir);
        ReportCopyFailure(target);
        return;
    }
    if (patch) PatchVersionText(source);
    // A 32-bit process on 64-bit Windows would otherwise write SysWOW64.
    // Redirection is back on before the message box, which may load DLLs.
    PVOID redirection = systemDir ? DisableFsRedirection() : NULL;
    bool copied = CopyWithRetry(source, target);
    RestoreFsRedirection(redirection);
    if (copied)
        LogFilePlaced(sourceName, target, source);
    else
        ReportCopyFailure(target);
}

// The uninstaller into the system directory: no retry, a message on failure.
static void PlaceUninstaller(LPCSTR sourceName) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    InstallPath(source, sizeof(source), sourceName);
    if (!source[0] || !g_ctx.systemDir[0] ||
        !FormatPath(target, sizeof(target), FMT_SYSTEM_UNINSTALLER, g_ctx.systemDir)) {
        snprintf(target, sizeof(target), FMT_SYSTEM_UNINSTALLER, g_ctx.systemDir);
        ReportCopyFailure(target);
        return;
    }
    PVOID redirection = DisableFsRedirection();
    SetFileAttributesA(target, FILE_ATTRIBUTE_ARCHIVE);
    BOOL copied = CopyFileA(source, target, FALSE);
    RestoreFsRedirection(redirection);
    if (copied)
        LogFilePlaced(sourceName, target, source);
    else
        ReportCopyFailure(target);
}

static void DeleteStubs(void) {
    static const char* const kStubs[] = {NAME_STUB32, NAME_STUB32_BIG5, NAME_STUB64, NAME_STUB64_BIG5};
    for (size_t i = 0; i < sizeof(kStubs) / sizeof(kStubs[0]); i++) {
        char path[MAX_PATH];
        InstallPath(path, sizeof(path), kStubs[i]);
        if (path[0]) DeleteIfPresent(path);
    }
}

static void UnpackPayload(void) {
    ResetAndDelete(NAME_COMPANION6);
    ResetAndDelete(NAME_COMPANION);
    if (!ExtractArchive(g_ctx.payload, g_ctx.payloadBytes, g_ctx.workBuffer))
        ShowFailureA(MSG_UNPACK_INCOMPLETE, PAYLOAD_TITLE_PLACE);
    else if (g_ctx.backupState == kBackupDone)
        AskKeepUserData();
}

void PlaceProgramFiles(int pass) {
    bool unpack = pass == kPlaceUnpack;
    bool big5 = g_ctx.oemCodePage == 950;
    LPCSTR stub32 = big5 ? NAME_STUB32_BIG5 : NAME_STUB32;
    LPCSTR stub64 = big5 ? NAME_STUB64_BIG5 : NAME_STUB64;

    CreateDirectoryA(g_ctx.installDir, NULL);
    if (g_ctx.windowsMajor >= 6) SetLowIntegrity();
    ReportPageRepaint();
    Sleep(kPaintPauseMs);
    if (unpack) UnpackPayload();
    ReportPageRepaint();

    char path[MAX_PATH];
    InstallPath(path, sizeof(path), NAME_IME32);
    if (path[0]) SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    CopyInInstallDir(NAME_IME, NAME_IME32);
    CopyInInstallDir(NAME_PHRASES5, NAME_PHRASES5_DAT);
    CopyInInstallDir(NAME_PHRASESPY, NAME_PHRASESPY_DAT);
    Sleep(kPaintPauseMs);
    ReportProgress(0, 64);

    if (Is64BitWindows()) {
        WowDirectory(g_ctx.wowDir, sizeof(g_ctx.wowDir));
        PlaceIme(unpack ? stub32 : NAME_IME32, unpack, g_ctx.wowDir, false);
        FetchSystemDirectory();
        PlaceIme(unpack ? stub64 : NAME_IME64, unpack, g_ctx.systemDir, true);
        if (!unpack) {
            DeleteStubs();
            return;
        }
        PlaceUninstaller(NAME_UNINSTALLER64);
        UseVistaCompanion();
    } else {
        FetchSystemDirectory();
        bool vista = g_ctx.windowsMajor >= 6;
        if (unpack && vista) UseVistaCompanion();
        LPCSTR source = unpack ? stub32 : (vista ? NAME_IME32 : NAME_IME);
        PlaceIme(source, unpack, g_ctx.systemDir, true);
        if (!unpack) {
            DeleteStubs();
            return;
        }
        PlaceUninstaller(NAME_UNINSTALLER);
    }

    InstallPath(path, sizeof(path), NAME_SETUPW64);
    if (path[0]) PatchVersionText(path);
    WriteUninstallEntry();
}
