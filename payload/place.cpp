// Placement of the program files: the input method reaches the system
// directory (and SysWOW64 on 64-bit Windows) under the one name
// "vornhu4.ime", the uninstaller reaches the system directory, and the
// companion program becomes the variant that suits the Windows version.
//
// The unpack pass (before the layout is registered) places small stubs whose
// version text is patched to 7.7; the re-place pass puts the full input
// methods over them.  Every file is written whole beside its target and then
// takes the target's place in one move; a target Windows holds loaded is
// moved aside for it.  The machine is never left without the input method
// it had: the earlier one waits aside until the full new one is in place.
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

// Copies over `target`, whole or not at all; a target Windows holds loaded
// is moved aside for it.  A source that is not there never moves the
// target aside.  Placement goes on after a failure.
void CopyIntoPlace(LPCSTR source, LPCSTR target) {
    if (CopyFileWhole(source, target))
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
    // version text: noted.
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
    // A failed write leaves the file as it was: unpatched, but whole.
    if (WriteFileWhole(path, data, n))
        LogEvent(LOG_VERSION_PATCHED, path, (unsigned long)n);
    else
        NoteFailure();
}

// Copies within the installation directory; failures pass silently.
static void CopyInInstallDir(LPCSTR sourceName, LPCSTR targetName) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    InstallPath(source, sizeof(source), sourceName);
    InstallPath(target, sizeof(target), targetName);
    if (source[0] && target[0] && CopyFileWhole(source, target)) LogFilePlaced(sourceName, target, source);
}

// True when the installation directory's `name` holds the bytes of the
// payload member of that name.
static bool IsWholeMember(LPCSTR name) {
    char path[MAX_PATH];
    char digest[kDigestChars];
    InstallPath(path, sizeof(path), name);
    return path[0] && FileDigest(path, digest) != 0 && MatchesMember(g_ctx.payload, g_ctx.payloadBytes, name, digest);
}

// Vista and later want the companion program built for them: "vorntav6.exe"
// takes the place of "vorntavk.exe" in one move, once it is known to be the
// whole member.  The unpack leaves the earlier "vorntavk.exe" alone there
// (the XP variant would go again at once), so it stays when the member did
// not arrive; a running one is moved aside for the new one.
static void UseVistaCompanion(void) {
    char variant[MAX_PATH];
    char companion[MAX_PATH];
    InstallPath(variant, sizeof(variant), NAME_COMPANION6);
    InstallPath(companion, sizeof(companion), NAME_COMPANION);
    if (variant[0] && companion[0] && IsWholeMember(NAME_COMPANION6) && SwapIntoPlace(variant, companion))
        LogFilePlaced(NAME_COMPANION6, companion, companion);
    else
        NoteFailure();
}

// ---- the input method in the system directories ------------------------------
//
// The earlier input method stays until the new one is whole.  It moves aside
// (a loaded file can be renamed, not deleted) before the stub takes its
// name, and is removed only once the full input method is in place; when
// that cannot be placed, or the sequence stops, it comes back.

// The system directory's files are reached with WOW64 redirection off; only
// file calls run meanwhile.
static PVOID RedirectionOff(int slot) { return slot == kImeSlotSystem ? DisableFsRedirection() : NULL; }

bool ParkEarlierIme(int slot, LPCSTR dir, bool flagIfStays) {
    ParkedFile* p = &g_ctx.earlierIme[slot];
    char target[MAX_PATH];
    if (p->spare[0] || !FormatPath(target, sizeof(target), FMT_SYSTEM_IME, dir)) return true;
    PVOID redirection = RedirectionOff(slot);
    bool present = GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
    bool moved = present && RenameAsideTo(target, p->spare, sizeof(p->spare)) == 0;
    RestoreFsRedirection(redirection);
    if (moved) CopyText(p->target, sizeof(p->target), target);
    // Asked once (the old-file step), it holds for the later moves too.
    if (flagIfStays) p->flagIfStays = 1;
    return moved || !present;
}

// Back over whatever took its name (a loaded stub moves aside for it).
static void RestoreEarlierIme(int slot) {
    ParkedFile* p = &g_ctx.earlierIme[slot];
    if (!p->spare[0]) return;
    PVOID redirection = RedirectionOff(slot);
    bool back = SwapIntoPlace(p->spare, p->target, p->spare);
    RestoreFsRedirection(redirection);
    if (back) {
        LogEvent(LOG_EARLIER_RESTORED, p->target);
        p->spare[0] = 0;
    }
}

void RestoreEarlierImes(void) {
    for (int slot = 0; slot < kImeSlots; slot++) RestoreEarlierIme(slot);
}

// The new input method is in place: the earlier one goes, unless Windows
// holds it loaded; then it stays under its spare name until the next install.
static void ReleaseEarlierIme(int slot) {
    ParkedFile* p = &g_ctx.earlierIme[slot];
    if (!p->spare[0]) return;
    PVOID redirection = RedirectionOff(slot);
    // Loaded, it stays in use until Windows restarts.
    bool stays = !DiscardAside(p->spare);
    RestoreFsRedirection(redirection);
    if (stays && p->flagIfStays) g_ctx.oldImeInUse = 1;
    p->spare[0] = 0;
}

// The stub: copied beside the target first, and only then does the earlier
// input method move aside for it.
static bool PlaceStub(LPCSTR source, LPCSTR target, LPCSTR dir, int slot) {
    char spare[MAX_PATH];
    if (!SpareName(target, spare, sizeof(spare))) return false;
    PVOID redirection = RedirectionOff(slot);
    DeleteIfPresent(spare);
    bool placed = CopyFileA(source, spare, TRUE) && ParkEarlierIme(slot, dir, false) &&
                  SwapIntoPlace(spare, target, g_ctx.earlierIme[slot].spare);
    if (!placed) DeleteFileA(spare);
    RestoreFsRedirection(redirection);
    return placed;
}

// The full input method: exactly the bytes of its payload member, read once
// into the work buffer, checked there and written from there, so nothing
// that changes the source meanwhile (the installation directory is the
// users') reaches the system directory.
static bool PlaceFullIme(LPCSTR source, LPCSTR memberName, LPCSTR target, int slot) {
    BYTE* data = g_ctx.workBuffer;
    if (!data) return false;
    HFILE file = _lopen(source, OF_READ);
    if (file == HFILE_ERROR) return false;
    UINT got = _lread(file, data, kWorkBufferBytes);
    _lclose(file);
    if (got == (UINT)HFILE_ERROR || got == 0 || got == kWorkBufferBytes) return false;
    char digest[kDigestChars];
    DigestHex(data, got, digest);
    if (!MatchesMember(g_ctx.payload, g_ctx.payloadBytes, memberName, digest)) return false;
    PVOID redirection = RedirectionOff(slot);
    bool placed = WriteFileWhole(target, data, got, g_ctx.earlierIme[slot].spare);
    RestoreFsRedirection(redirection);
    return placed;
}

// True when an earlier input method is in `target` or waits for it.
static bool EarlierImeThere(LPCSTR target, int slot) {
    if (g_ctx.earlierIme[slot].spare[0]) return true;
    PVOID redirection = RedirectionOff(slot);
    bool there = GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
    RestoreFsRedirection(redirection);
    return there;
}

// The stub (unpack pass, version text patched first) or the full input
// method, the payload member `fullName` (re-place pass), into
// `dir`\vornhu4.ime.
static void PlaceIme(LPCSTR sourceName, LPCSTR fullName, bool stub, LPCSTR dir, int slot) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    InstallPath(source, sizeof(source), sourceName);
    // No directory would make the target the root of the current drive; the
    // input method is then not in place, which is reported like a failed copy.
    bool formed = source[0] && dir[0] && FormatPath(target, sizeof(target), FMT_SYSTEM_IME, dir);
    if (!formed) snprintf(target, sizeof(target), FMT_SYSTEM_IME, dir);
    // The stub takes an earlier input method's place only when the full one
    // is there to follow it; otherwise the earlier one stays as it is.
    if (formed && stub && !IsWholeMember(fullName) && EarlierImeThere(target, slot)) {
        LogEvent(LOG_EARLIER_KEPT, target);
        return;
    }
    if (formed && stub) PatchVersionText(source);
    bool placed =
        formed && (stub ? PlaceStub(source, target, dir, slot) : PlaceFullIme(source, fullName, target, slot));
    // Before any message, which the user may answer by ending the setup.
    if (!stub && placed) ReleaseEarlierIme(slot);
    if (!stub && !placed) RestoreEarlierIme(slot);
    // Redirection is back on before the message box, which may load DLLs.
    if (placed)
        LogFilePlaced(sourceName, target, source);
    else
        ReportCopyFailure(target);
}

// The uninstaller into the system directory, a message on failure.
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
    bool copied = CopyFileWhole(source, target);
    RestoreFsRedirection(redirection);
    if (copied)
        LogFilePlaced(sourceName, target, source);
    else
        ReportCopyFailure(target);
}

void RecoverSetAsideFiles(void) {
    char path[MAX_PATH];
    RecoverSetAsideIn(g_ctx.installDir);
    PVOID redirection = DisableFsRedirection();
    if (g_ctx.systemDir[0] && FormatPath(path, sizeof(path), FMT_SYSTEM_IME, g_ctx.systemDir)) RecoverSetAside(path);
    if (g_ctx.systemDir[0] && FormatPath(path, sizeof(path), FMT_SYSTEM_UNINSTALLER, g_ctx.systemDir))
        RecoverSetAside(path);
    RestoreFsRedirection(redirection);
    if (Is64BitWindows() && FormatPath(path, sizeof(path), FMT_SYSTEM_IME, g_ctx.wowDir)) RecoverSetAside(path);
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
    // The user's files the backup does not hold stay as they are.
    PrepareUserFilesForUnpack();
    char keep[kKeptNamesBytes + sizeof(NAME_COMPANION)];
    snprintf(keep, sizeof(keep), "%s%s", g_ctx.userFilesKept, g_ctx.windowsMajor >= 6 ? NAME_COMPANION : "");
    if (!ExtractArchive(g_ctx.payload, g_ctx.payloadBytes, g_ctx.workBuffer, keep))
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
    PauseForScreen(kPaintPauseMs);
    if (unpack) UnpackPayload();
    ReportPageRepaint();

    CopyInInstallDir(NAME_IME, NAME_IME32);
    CopyInInstallDir(NAME_PHRASES5, NAME_PHRASES5_DAT);
    CopyInInstallDir(NAME_PHRASESPY, NAME_PHRASESPY_DAT);
    PauseForScreen(kPaintPauseMs);
    ReportProgress(0, 64);

    if (Is64BitWindows()) {
        WowDirectory(g_ctx.wowDir, sizeof(g_ctx.wowDir));
        PlaceIme(unpack ? stub32 : NAME_IME32, NAME_IME, unpack, g_ctx.wowDir, kImeSlotWow);
        FetchSystemDirectory();
        PlaceIme(unpack ? stub64 : NAME_IME64, NAME_IME64, unpack, g_ctx.systemDir, kImeSlotSystem);
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
        // The full input method is the member "vornhu4.ime", under its copy's name from Vista on.
        LPCSTR source = unpack ? stub32 : (vista ? NAME_IME32 : NAME_IME);
        PlaceIme(source, NAME_IME, unpack, g_ctx.systemDir, kImeSlotSystem);
        if (!unpack) {
            DeleteStubs();
            return;
        }
        PlaceUninstaller(NAME_UNINSTALLER);
    }

    char path[MAX_PATH];
    InstallPath(path, sizeof(path), NAME_SETUPW64);
    if (path[0]) PatchVersionText(path);
    WriteUninstallEntry();
}
