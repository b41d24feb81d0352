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
//
// The installation directory is the user's to change from the moment the
// install grants him access to it.  Nothing is copied from there into a
// system directory: whatever goes there is the payload member's bytes,
// expanded and checked in this program's own memory (and patched there).
#include "imereg/imereg.h"
#include "payload/payload.h"
#include "payload/texts.h"
#include "payload/voz.h"
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
// Bytes above 128 KiB are not ours to patch and stay untouched.
bool PatchVersionText(BYTE* data, DWORD n) {
    if (!data || n > kPatchLimit) return false;
    static const WCHAR kText[] = VERSION_TEXT_W;
    BYTE pattern[2 * kVersionTextChars];
    for (int k = 0; k < kVersionTextChars; k++) {
        pattern[2 * k] = (BYTE)(kText[k] & 0xFF);
        pattern[2 * k + 1] = (BYTE)(kText[k] >> 8);
    }
    bool changed = false;
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
            changed = true;
        }
        i += sizeof(pattern) + 1;
    }
    return changed;
}

// The verified bytes of the member `name`, version text patched when asked;
// null (and a note for the exit code) when the member does not check out.
static BYTE* VerifiedBytes(LPCSTR name, bool patch, DWORD* cb, bool* patched = NULL) {
    BYTE* data = ExpandVerifiedMember(name, cb);
    bool changed = data && patch && PatchVersionText(data, *cb);
    if (patched) *patched = changed;
    if (!data) LogEvent(LOG_MEMBER_NOT_VERIFIED, name);
    return data;
}

// The installation directory's copy of a member whose version text the
// placement patches, rewritten with the patched bytes when they changed.
static void WritePatchedCopy(LPCSTR name) {
    char path[MAX_PATH];
    DWORD cb = 0;
    bool patched = false;
    InstallPath(path, sizeof(path), name);
    BYTE* data = path[0] ? VerifiedBytes(name, true, &cb, &patched) : NULL;
    if (!data) {
        NoteFailure();
        return;
    }
    if (!patched) return;
    if (WriteFileWhole(path, data, cb))
        LogEvent(LOG_VERSION_PATCHED, path, (unsigned long)cb);
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
// payload member of that name: it unpacked whole.  Only a decision rests on
// it; what is placed comes from the payload.
static bool UnpackedWhole(LPCSTR name) {
    char path[MAX_PATH];
    char digest[kDigestChars];
    InstallPath(path, sizeof(path), name);
    return path[0] && FileDigest(path, digest) != 0 && MatchesMember(g_ctx.payload, g_ctx.payloadBytes, name, digest);
}

// Vista and later want the companion program built for them: "vorntavk.exe"
// becomes the bytes of "vorntav6.exe", checked against the payload, and the
// variant goes.  The unpack leaves the earlier "vorntavk.exe" alone there
// (the XP variant would go again at once), so it stays when the member does
// not check out; a running one is moved aside for the new one.
static void UseVistaCompanion(void) {
    char variant[MAX_PATH];
    char companion[MAX_PATH];
    DWORD cb = 0;
    InstallPath(variant, sizeof(variant), NAME_COMPANION6);
    InstallPath(companion, sizeof(companion), NAME_COMPANION);
    BYTE* data = variant[0] && companion[0] ? VerifiedBytes(NAME_COMPANION6, false, &cb) : NULL;
    if (data && WriteFileWhole(companion, data, cb)) {
        LogFileWritten(NAME_COMPANION6, companion, cb);
        DeleteIfPresent(variant);
    } else {
        NoteFailure();
    }
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

// The stub, `cb` bytes at `data`: written beside the target first, and only
// then does the earlier input method move aside for it.
static bool PlaceStub(const BYTE* data, DWORD cb, LPCSTR target, LPCSTR dir, int slot) {
    char spare[MAX_PATH];
    if (!SpareName(target, spare, sizeof(spare))) return false;
    PVOID redirection = RedirectionOff(slot);
    DeleteIfPresent(spare);
    bool placed = WriteNewFile(spare, data, cb) && ParkEarlierIme(slot, dir, false) &&
                  SwapIntoPlace(spare, target, g_ctx.earlierIme[slot].spare);
    if (!placed) DeleteFileA(spare);
    RestoreFsRedirection(redirection);
    return placed;
}

// The full input method, `cb` bytes at `data`.
static bool PlaceFullIme(const BYTE* data, DWORD cb, LPCSTR target, int slot) {
    PVOID redirection = RedirectionOff(slot);
    bool placed = WriteFileWhole(target, data, cb, g_ctx.earlierIme[slot].spare);
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

// The stub (unpack pass, version text patched first, the installation
// directory's copy too) or the full input method (re-place pass), the
// payload member `fullName`, into `dir`\vornhu4.ime.
static void PlaceIme(LPCSTR stubName, LPCSTR fullName, bool stub, LPCSTR dir, int slot) {
    char target[MAX_PATH];
    LPCSTR name = stub ? stubName : fullName;
    // No directory would make the target the root of the current drive; the
    // input method is then not in place, which is reported like a failed copy.
    bool formed = dir[0] && FormatPath(target, sizeof(target), FMT_SYSTEM_IME, dir);
    if (!formed) snprintf(target, sizeof(target), FMT_SYSTEM_IME, dir);
    // The new input method takes an earlier one's place only when its full
    // member unpacked whole, so that it comes with its files; otherwise the
    // earlier one stays as it is, or comes back over the stub that took its
    // name meanwhile.  Without an earlier one the full one always follows the
    // stub.
    DWORD cb = 0;
    ParkedFile* earlier = &g_ctx.earlierIme[slot];
    bool keep = stub ? formed && EarlierImeThere(target, slot) && !UnpackedWhole(fullName)
                     : earlier->kept || (earlier->spare[0] && !UnpackedWhole(fullName));
    if (keep) {
        earlier->kept = 1;
        RestoreEarlierIme(slot);
        LogEvent(LOG_EARLIER_KEPT, target);
        NoteFailure();
        return;
    }
    if (formed && stub) WritePatchedCopy(stubName);
    BYTE* data = formed ? VerifiedBytes(name, stub, &cb) : NULL;
    bool placed = data && (stub ? PlaceStub(data, cb, target, dir, slot) : PlaceFullIme(data, cb, target, slot));
    // Before any message, which the user may answer by ending the setup.
    if (!stub && placed) ReleaseEarlierIme(slot);
    if (!stub && !placed) RestoreEarlierIme(slot);
    // Redirection is back on before the message box, which may load DLLs.
    if (placed)
        LogFileWritten(name, target, cb);
    else
        ReportCopyFailure(target);
}

// The uninstaller, the member `name`, into the system directory; a message
// on failure.
static void PlaceUninstaller(LPCSTR name) {
    char target[MAX_PATH];
    DWORD cb = 0;
    bool formed =
        g_ctx.systemDir[0] && FormatPath(target, sizeof(target), FMT_SYSTEM_UNINSTALLER, g_ctx.systemDir);
    if (!formed) snprintf(target, sizeof(target), FMT_SYSTEM_UNINSTALLER, g_ctx.systemDir);
    BYTE* data = formed ? VerifiedBytes(name, false, &cb) : NULL;
    PVOID redirection = DisableFsRedirection();
    bool placed = data && WriteFileWhole(target, data, cb);
    RestoreFsRedirection(redirection);
    if (placed)
        LogFileWritten(name, target, cb);
    else
        ReportCopyFailure(target);
}

void RecoverSetAsideFiles(void) {
    char path[MAX_PATH];
    RecoverSetAsideIn(g_ctx.installDir);
    static const char* const kSystemFiles[] = {FMT_SYSTEM_IME, FMT_SYSTEM_UNINSTALLER, FMT_SYSTEM_COMPANION,
                                               FMT_SYSTEM_PERUSER};
    PVOID redirection = DisableFsRedirection();
    for (size_t i = 0; i < sizeof(kSystemFiles) / sizeof(kSystemFiles[0]); i++)
        if (g_ctx.systemDir[0] && FormatPath(path, sizeof(path), kSystemFiles[i], g_ctx.systemDir))
            RecoverSetAside(path);
    RestoreFsRedirection(redirection);
    if (Is64BitWindows()) {
        if (FormatPath(path, sizeof(path), FMT_SYSTEM_IME, g_ctx.wowDir)) RecoverSetAside(path);
        if (FormatPath(path, sizeof(path), FMT_SYSTEM_COMPANION, g_ctx.wowDir)) RecoverSetAside(path);
    }
}

// ---- the companion program every user's logon starts --------------------------
//
// Every user's logon runs it, administrators' included, so no user may be
// able to change it, nor what Windows loads beside it (a program's own
// directory is where Windows looks for its DLLs first).  The installation
// directory is the installing user's to change; the copy the logon starts is
// the payload member's bytes in the system directory of its bitness, where
// only administrators may write.  The installation directory keeps its own
// copy, as before.

enum { kPeMachineAmd64 = 0x8664 };

// True when the bytes are a PE image for x64; anything else (x86, or not an
// image at all) runs as a 32-bit program.
static bool IsX64Image(const BYTE* data, DWORD cb) {
    if (cb < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
    DWORD pe = VozLe32(data + 0x3C);
    if (pe > cb - 6 || memcmp(data + pe, "PE\0\0", 4) != 0) return false;
    return (DWORD)(data[pe + 4] | (data[pe + 5] << 8)) == kPeMachineAmd64;
}

// The companion into the system directory of its bitness (SysWOW64 for a
// 32-bit one on 64-bit Windows); its path into g_ctx.runProgram, or a
// message naming the target.
static void PlaceRunProgram(void) {
    LPCSTR name = g_ctx.windowsMajor >= 6 ? NAME_COMPANION6 : NAME_COMPANION;
    DWORD cb = 0;
    BYTE* data = VerifiedBytes(name, false, &cb);
    bool x64 = data && IsX64Image(data, cb);
    LPCSTR dir = Is64BitWindows() && !x64 ? g_ctx.wowDir : g_ctx.systemDir;
    char target[MAX_PATH];
    bool formed = dir[0] && FormatPath(target, sizeof(target), FMT_SYSTEM_COMPANION, dir);
    if (!formed) snprintf(target, sizeof(target), FMT_SYSTEM_COMPANION, dir);
    PVOID redirection = dir == g_ctx.systemDir ? DisableFsRedirection() : NULL;
    bool placed = formed && data && WriteFileWhole(target, data, cb);
    RestoreFsRedirection(redirection);
    CopyText(g_ctx.runProgram, sizeof(g_ctx.runProgram), placed ? target : "");
    if (placed)
        LogFileWritten(name, target, cb);
    else
        ReportCopyFailure(target);
}

// The per-user step that every user's next logon runs (Active Setup): the
// 64-bit program's verified bytes, which hold the step too, in the system
// directory, where only administrators may write.  32-bit Windows has no
// such program in the payload.  Its path into g_ctx.perUserProgram.
static void PlacePerUserProgram(void) {
    char target[MAX_PATH];
    DWORD cb = 0;
    g_ctx.perUserProgram[0] = 0;
    if (!Is64BitWindows()) {
        LogEvent(LOG_PERUSER_32BIT);
        return;
    }
    FetchSystemDirectory();
    bool formed = g_ctx.systemDir[0] && FormatPath(target, sizeof(target), FMT_SYSTEM_PERUSER, g_ctx.systemDir);
    BYTE* data = formed ? VerifiedBytes(NAME_SETUPW64, true, &cb) : NULL;
    PVOID redirection = DisableFsRedirection();
    bool placed = data && WriteFileWhole(target, data, cb);
    RestoreFsRedirection(redirection);
    if (placed) {
        LogFileWritten(NAME_SETUPW64, target, cb);
        CopyText(g_ctx.perUserProgram, sizeof(g_ctx.perUserProgram), target);
    } else {
        LogEvent(LOG_PERUSER_NOT_PLACED, formed ? target : FMT_SYSTEM_PERUSER);
        NoteFailure();
    }
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
    if (!ExtractArchive(g_ctx.payload, g_ctx.payloadBytes, g_ctx.workBuffer, keep, &g_ctx.programBytes))
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
        PlaceIme(stub32, NAME_IME, unpack, g_ctx.wowDir, kImeSlotWow);
        FetchSystemDirectory();
        PlaceIme(stub64, NAME_IME64, unpack, g_ctx.systemDir, kImeSlotSystem);
        if (!unpack) {
            DeleteStubs();
            return;
        }
        PlaceUninstaller(NAME_UNINSTALLER64);
        UseVistaCompanion();
        PlaceRunProgram();
        PlacePerUserProgram();
    } else {
        FetchSystemDirectory();
        bool vista = g_ctx.windowsMajor >= 6;
        if (unpack && vista) UseVistaCompanion();
        PlaceIme(stub32, NAME_IME, unpack, g_ctx.systemDir, kImeSlotSystem);
        if (!unpack) {
            DeleteStubs();
            return;
        }
        PlaceUninstaller(NAME_UNINSTALLER);
        PlaceRunProgram();
        PlacePerUserProgram();
    }

    WritePatchedCopy(NAME_SETUPW64);
    WriteUninstallEntry();
}
