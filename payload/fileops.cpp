// File primitives shared by unpacking and placement: the digest string, the
// delete that tolerates absence, the rename-aside of a file Windows holds
// loaded, and WOW64 file-system redirection.
#include "payload/payload.h"
#include "payload/texts.h"
#include "payload/voz.h"
#include "setup/context.h"
#include "setup/log.h"

HMODULE LoadSystemLibrary(LPCSTR name, char* path, size_t cbPath) {
    char system[MAX_PATH];
    UINT n = GetSystemDirectoryA(system, sizeof(system));
    int cch = n == 0 || n >= sizeof(system) ? -1 : snprintf(path, cbPath, FMT_SYSTEM_DLL, system, name);
    if (cch < 0 || (size_t)cch >= cbPath) {
        if (cbPath) snprintf(path, cbPath, "%s", name);
        return NULL;
    }
    return LoadLibraryA(path);
}

// advapi32's MD5, loaded on demand: every Windows from NT on exports it but
// no import library declares it.
struct Md5Functions {
    HMODULE module;
    VORN_MD5INIT init;
    VORN_MD5UPDATE update;
    VORN_MD5FINAL final;
};

// False (and nothing to unload) when the library or one function is missing.
static bool LoadMd5(Md5Functions* md5) {
    memset(md5, 0, sizeof(*md5));
    char path[MAX_PATH];
    md5->module = LoadSystemLibrary(DLL_ADVAPI32, path, sizeof(path));
    if (!md5->module) return false;
    md5->init = ProcAs<VORN_MD5INIT>(GetProcAddress(md5->module, FN_MD5INIT));
    md5->update = ProcAs<VORN_MD5UPDATE>(GetProcAddress(md5->module, FN_MD5UPDATE));
    md5->final = ProcAs<VORN_MD5FINAL>(GetProcAddress(md5->module, FN_MD5FINAL));
    if (md5->init && md5->update && md5->final) return true;
    FreeLibrary(md5->module);
    md5->module = NULL;
    return false;
}

static void WriteHex(const VORN_MD5_CTX* ctx, char out[kDigestChars]) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; i++) {
        out[2 * i] = kHex[ctx->digest[i] >> 4];
        out[2 * i + 1] = kHex[ctx->digest[i] & 15];
    }
}

void DigestHex(const void* bytes, DWORD cbBytes, char out[kDigestChars]) {
    memset(out, 0, kDigestChars);
    Md5Functions md5;
    if (!LoadMd5(&md5)) return;
    VORN_MD5_CTX ctx;
    memset(&ctx, 0, sizeof(ctx));
    md5.init(&ctx);
    md5.update(&ctx, (const unsigned char*)bytes, cbBytes);
    md5.final(&ctx);
    WriteHex(&ctx, out);
    FreeLibrary(md5.module);
}

// Streams the file through one fixed block (the work buffer may hold the
// archive being verified, and a file is as large as it likes): the digest is
// that of the whole file as DigestHex would give it.  A file that cannot be
// opened or read gives the empty digest and 0.
DWORD FileDigest(LPCSTR path, char out[kDigestChars]) {
    static BYTE s_chunk[65536];
    memset(out, 0, kDigestChars);
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) return 0;
    Md5Functions md5;
    if (!LoadMd5(&md5)) {
        // Still the byte count: legacy members are verified by length.
        DWORD cbFile = 0;
        UINT got;
        while ((got = _lread(file, s_chunk, sizeof(s_chunk))) != 0 && got != (UINT)HFILE_ERROR) cbFile += got;
        _lclose(file);
        return got == (UINT)HFILE_ERROR ? 0 : cbFile;
    }
    VORN_MD5_CTX ctx;
    memset(&ctx, 0, sizeof(ctx));
    md5.init(&ctx);
    DWORD cbRead = 0;
    bool failed = false;
    for (;;) {
        UINT got = _lread(file, s_chunk, sizeof(s_chunk));
        if (got == (UINT)HFILE_ERROR) {
            failed = true;
            break;
        }
        if (got == 0) break;
        md5.update(&ctx, s_chunk, got);
        cbRead += got;
    }
    _lclose(file);
    md5.final(&ctx);
    FreeLibrary(md5.module);
    if (failed) return 0;
    WriteHex(&ctx, out);
    return cbRead;
}

// ---- links ------------------------------------------------------------------
//
// The installation directory, and the previous one, are the user's to change:
// any name there may be a hard link to a file elsewhere, a symbolic link or a
// junction.  This elevated program never acts through such a name: it reads
// only a plain file with one name, changes the attributes of nothing else,
// and writes only by creating a new file and moving it over a name (which
// replaces the name, never the file it led to).

// A plain file with one name: not a directory, not a reparse point, no other
// hard link.
static bool IsPlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           info.nNumberOfLinks == 1;
}

// Opens `path` itself (a link is not followed) with `access`, sharing reading
// and writing but not deleting: while the handle is open the name cannot be
// renamed, deleted or replaced by anyone.  INVALID_HANDLE_VALUE, with
// ERROR_CANT_ACCESS_FILE and a log line, when it is not a plain file.
static HANDLE OpenPlainFile(LPCSTR path, DWORD access) {
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE || IsPlainFile(file)) return file;
    CloseHandle(file);
    LogEvent(LOG_LINK_REFUSED, path);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
}

// Resets the attributes of a plain file to FILE_ATTRIBUTE_ARCHIVE, so that a
// read-only one can be replaced or deleted; the file is held by its name
// meanwhile, so the reset cannot reach another file.  False for a link.
static bool ResetAttributes(LPCSTR path) {
    HANDLE pin = OpenPlainFile(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES);
    if (pin == INVALID_HANDLE_VALUE) return false;
    bool reset = SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE) != FALSE;
    CloseHandle(pin);
    return reset;
}

// Presence is asked of the directory entry, not by opening the file: a file
// held open without sharing cannot be opened, yet it is there and stays, and
// the caller must hear so (it then moves the file aside or stops).  A
// read-only file is deletable once its attributes are reset; deleting a
// link removes the link.
int DeleteIfPresent(LPCSTR path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    if (attributes & FILE_ATTRIBUTE_READONLY) ResetAttributes(path);
    return DeleteFileA(path) ? 0 : -1;
}

// ---- the names the install owns ---------------------------------------------

static const char* const* s_ownedNames;

void SetOwnedFileNames(const char* const* names) { s_ownedNames = names; }

// Windows compares file names without regard to ASCII letter case; a GBK
// character's bytes compare as they are.
static bool SameFileName(LPCSTR a, LPCSTR b) {
    for (;; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
        if ((BYTE)*a >= 0x81 && a[1]) {
            if (*++a != *++b) return false;
        }
    }
}

bool IsOwnedFileName(LPCSTR name) {
    for (const char* const* p = s_ownedNames; p && *p; p++)
        if (SameFileName(*p, name)) return true;
    MemberIterator it;
    if (!g_ctx.payload || !VozBegin(&it, g_ctx.payload, g_ctx.payloadBytes, kMarkerExact)) return false;
    VozMember member;
    while (VozNext(&it, &member))
        if (SameFileName(member.name, name)) return true;
    return false;
}

// The bare name of a path: what follows its last "\", "/" or ":".  A GBK
// character's second byte may be "\": it is stepped over with its lead.
static size_t NameOffset(LPCSTR path) {
    size_t name = 0;
    for (size_t i = 0; path[i]; i++) {
        if ((BYTE)path[i] >= 0x81 && path[i + 1]) {
            i++;
            continue;
        }
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') name = i + 1;
    }
    return name;
}

// ---- moving a held file out of the way -----------------------------------------

// The spare names a held file may move to, in the order they are tried.
// The input method keeps the names every earlier version used: the last
// character before the extension made "2", then the one before it "1" as
// well (vornhu4.ime: vornhu2.ime, vornh12.ime).  Every other file gets a
// name of its own, "<name>.old" then "<name>.old2": changing a character of
// it would name another file ("vopykey3.txt" would take "vopykey2.txt", a
// sibling member, and delete it), and would make one spare stand for many
// files, so that what waits under it could not be put back.  False for a
// candidate that would leave the file name ("C:\d\a.ime" would move to
// "C:\d12.ime") or names a file the install owns.
static bool SpareCandidate(LPCSTR path, int attempt, char* out, size_t cbOut) {
    size_t n = path ? strlen(path) : 0;
    size_t name = path ? NameOffset(path) : 0;
    if (n == 0 || n >= cbOut) return false;
    if (SameFileName(path + name, NAME_IME)) {
        memcpy(out, path, n + 1);
        out[n - 5] = '2';
        if (attempt == 1) out[n - 6] = '1';
    } else {
        int cch = snprintf(out, cbOut, attempt == 0 ? FMT_ASIDE_FIRST : FMT_ASIDE_SECOND, path);
        if (cch < 0 || (size_t)cch >= cbOut) return false;
    }
    return !IsOwnedFileName(out + NameOffset(out));
}

// A file that stays aside because Windows holds it goes at the restart, which
// it therefore asks for; the next install deletes it too if it can.
static void NoteHeldAside(LPCSTR path) {
    g_ctx.restartNeeded = 1;
    MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    LogEvent(LOG_HELD_ASIDE, path);
}

bool DiscardAside(LPCSTR path) {
    if (DeleteIfPresent(path) == 0) return true;
    NoteHeldAside(path);
    return false;
}

// A loaded input method can be renamed but not deleted: it moves to a spare
// name, deleting what an earlier install left there.  `keep`, a spare this
// run still needs (the earlier input method waiting to come back), is never
// the name deleted or taken.
int RenameAsideTo(LPCSTR path, char* aside, size_t cbAside, LPCSTR keep) {
    char spare[200];
    if (cbAside) aside[0] = 0;
    bool moved = false;
    for (int attempt = 0; attempt < 2 && !moved; attempt++) {
        if (!SpareCandidate(path, attempt, spare, sizeof(spare))) continue;
        if (keep && strcmp(spare, keep) == 0) continue;
        DeleteIfPresent(spare);
        moved = MoveFileA(path, spare) != FALSE;
    }
    if (!moved) return -1;
    if (cbAside) snprintf(aside, cbAside, "%s", spare);
    return 0;
}

void RecoverSetAside(LPCSTR path) {
    // A new version whose write or swap was cut short is no one's only
    // copy: the file is there, or its earlier version waits aside.
    char unfinished[200];
    if (SpareName(path, unfinished, sizeof(unfinished)) && GetFileAttributesA(unfinished) != INVALID_FILE_ATTRIBUTES)
        DeleteIfPresent(unfinished);
    bool present = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    // The second spare is taken only while the first is held: it is the newer.
    for (int attempt = 1; attempt >= 0; attempt--) {
        char spare[200];
        if (!SpareCandidate(path, attempt, spare, sizeof(spare))) continue;
        if (GetFileAttributesA(spare) == INVALID_FILE_ATTRIBUTES) continue;
        if (present) {
            DiscardAside(spare);
        } else if (MoveFileA(spare, path)) {
            present = true;
            LogEvent(LOG_SET_ASIDE_BACK, path, spare);
        }
    }
}

void RecoverSetAsideIn(LPCSTR dir) {
    char path[MAX_PATH];
    if (!dir || !dir[0]) return;
    for (const char* const* p = s_ownedNames; p && *p; p++)
        if (FormatPath(path, sizeof(path), FMT_IN_DIR, dir, *p)) RecoverSetAside(path);
    MemberIterator it;
    if (!g_ctx.payload || !VozBegin(&it, g_ctx.payload, g_ctx.payloadBytes, kMarkerExact)) return;
    VozMember member;
    while (VozNext(&it, &member))
        if (VozIsMemberName(member.name) && FormatPath(path, sizeof(path), FMT_IN_DIR, dir, member.name))
            RecoverSetAside(path);
}

int RenameAside(LPCSTR path) { return RenameAsideTo(path, NULL, 0, NULL); }

bool SpareName(LPCSTR target, char* spare, size_t cbSpare) {
    int n = snprintf(spare, cbSpare, FMT_SPARE, target);
    if (n < 0 || (size_t)n >= cbSpare) {
        if (cbSpare) spare[0] = 0;
        return false;
    }
    return true;
}

// The spare takes the target's place in one move.  A target Windows holds
// loaded refuses to be replaced but can be renamed: it is moved aside first,
// and goes once the spare is in (or stays for the restart if still held).
// When the spare still cannot take its place, the earlier file comes back;
// if even that move fails, the new one is tried once more, so one of the two
// is under the target's name.  Only when every move fails does the earlier
// file wait under its spare name, which the log names and the next install
// puts back.
bool SwapIntoPlace(LPCSTR spare, LPCSTR target, LPCSTR keep) {
    const DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExA(spare, target, kReplace)) return true;
    DWORD error = GetLastError();
    // A read-only target is replaced once its attributes are reset.
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) && ResetAttributes(target) &&
        MoveFileExA(spare, target, kReplace))
        return true;
    char aside[200];
    bool present = GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES;
    if (!present || RenameAsideTo(target, aside, sizeof(aside), keep) != 0) {
        SetLastError(error);
        return false;
    }
    if (!MoveFileExA(spare, target, kReplace)) {
        error = GetLastError();
        if (MoveFileA(aside, target)) {
            LogEvent(LOG_SWAP_KEPT_EARLIER, target);
            SetLastError(error);
            return false;
        }
        if (!MoveFileExA(spare, target, kReplace)) {
            LogEvent(LOG_SWAP_EARLIER_ASIDE, target, aside);
            SetLastError(error);
            return false;
        }
    }
    DiscardAside(aside);
    return true;
}

// Writes and closes the spare (flushed first when asked); false when a byte
// is missing.  The spare must be new: a name someone put back after it was
// deleted (a link to another file, in a directory users may write) is
// refused, not written through.
bool WriteNewFile(LPCSTR spare, const void* bytes, DWORD cbBytes, bool flush) {
    HANDLE file = CreateFileA(spare, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool whole = cbBytes == 0 || (WriteFile(file, bytes, cbBytes, &written, NULL) && written == cbBytes);
    if (whole && flush && !FlushFileBuffers(file)) whole = false;
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return whole;
}

bool WriteFileWhole(LPCSTR target, const void* bytes, DWORD cbBytes, LPCSTR keep, bool flush) {
    char spare[MAX_PATH];
    if (!SpareName(target, spare, sizeof(spare))) return false;
    // A spare left by an interrupted run (perhaps read-only or hidden now).
    DeleteIfPresent(spare);
    if (WriteNewFile(spare, bytes, cbBytes, flush) && SwapIntoPlace(spare, target, keep)) return true;
    DWORD error = GetLastError();
    DeleteFileA(spare);
    SetLastError(error);
    return false;
}

bool FlushFileToDisk(LPCSTR path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool flushed = FlushFileBuffers(file) != FALSE;
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return flushed;
}

HANDLE OpenSharedRead(LPCSTR path) { return OpenPlainFile(path, GENERIC_READ); }

HANDLE PinPlainFile(LPCSTR path) { return OpenPlainFile(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES); }

HANDLE PinPlainDirectory(LPCSTR path) {
    HANDLE dir = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (dir == INVALID_HANDLE_VALUE) return dir;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(dir, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return dir;
    CloseHandle(dir);
    LogEvent(LOG_LINK_REFUSED, path);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
}

bool ReadUpTo(HANDLE file, void* out, DWORD cb, DWORD* cbRead) {
    *cbRead = 0;
    while (*cbRead < cb) {
        DWORD got = 0;
        if (!ReadFile(file, (BYTE*)out + *cbRead, cb - *cbRead, &got, NULL)) return false;
        if (got == 0) break;
        *cbRead += got;
    }
    return true;
}

HGLOBAL ReadFileShared(LPCSTR path, DWORD cbLimit, DWORD cbSpare, DWORD* cbRead) {
    *cbRead = 0;
    HANDLE file = OpenSharedRead(path);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    DWORD high = 0;
    DWORD cbFile = GetFileSize(file, &high);
    HGLOBAL block = NULL;
    DWORD error = ERROR_FILE_TOO_LARGE;
    if (cbFile != INVALID_FILE_SIZE && high == 0 && cbFile <= cbLimit && cbSpare <= 0xFFFFFFFFu - cbFile) {
        block = GlobalAlloc(GPTR, (SIZE_T)cbFile + cbSpare);
        error = block ? 0 : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (block && !ReadUpTo(file, block, cbFile, cbRead)) {
        error = GetLastError();
        GlobalFree(block);
        block = NULL;
    }
    CloseHandle(file);
    if (!block) {
        *cbRead = 0;
        SetLastError(error);
    }
    return block;
}

bool CopyFileWhole(LPCSTR source, LPCSTR target, bool flush) {
    DWORD cb = 0;
    HGLOBAL block = ReadFileShared(source, kVozMaxMemberBytes, 0, &cb);
    if (!block) return false;
    bool whole = WriteFileWhole(target, block, cb, NULL, flush);
    DWORD error = GetLastError();
    GlobalFree(block);
    SetLastError(error);
    return whole;
}

// Saved redirection states, innermost last.  The value Windows hands back is
// opaque (NULL included), so a token points at its slot; NULL means nothing
// was turned off.
static struct {
    PVOID saved[4];
    int depth;
} s_redirection;

// A 32-bit process on 64-bit Windows sees SysWOW64 under the name system32;
// this turns that off so that system32 means system32.  Only file calls may
// run until RestoreFsRedirection: a LoadLibrary would then load 64-bit DLLs.
PVOID DisableFsRedirection(void) {
    if (s_redirection.depth >= (int)(sizeof(s_redirection.saved) / sizeof(s_redirection.saved[0]))) return NULL;
    HMODULE kernel = GetModuleHandleA(DLL_KERNEL32);
    if (!kernel) return NULL;
    // Windows XP 32-bit has neither function.
    VORN_WOW64DISABLE disable = ProcAs<VORN_WOW64DISABLE>(GetProcAddress(kernel, FN_WOW64DISABLE));
    if (!disable) return NULL;
    PVOID* slot = &s_redirection.saved[s_redirection.depth];
    *slot = NULL;
    if (!disable(slot)) return NULL;
    s_redirection.depth++;
    return slot;
}

void RestoreFsRedirection(PVOID token) {
    if (!token || s_redirection.depth == 0) return;
    HMODULE kernel = GetModuleHandleA(DLL_KERNEL32);
    VORN_WOW64REVERT revert = kernel ? ProcAs<VORN_WOW64REVERT>(GetProcAddress(kernel, FN_WOW64REVERT)) : NULL;
    if (revert) revert(*(PVOID*)token);
    s_redirection.depth--;
}
