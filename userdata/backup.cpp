// Preservation of the user's earlier data: the backup of the previous
// installation's files into "vornback.voz" before the payload overwrites
// them, and the question whether they come back.
//
// No user data may be lost, whatever fails and however often the user tries
// again.  The new archive is written under a spare name and replaces the
// earlier one once every file that is there went in; a listed file that is
// there but cannot be read (held without sharing, say) is left out and named
// in the log, and when it is a required one the earlier archive stays.
//
// Once the unpack has written over the user's files, the archive is their
// only copy: it waits to be restored.  "vornback.sum" beside it says so, and
// lists the digests of the bytes the setup writes into the user's file names
// (the payload's members of those names, the rewritten settings record).  It
// is written after the archive has taken its place and before anything is
// unpacked, and it goes when the restore has put every file back or the user
// answers No.  While it is there, a backup takes each file that holds such
// bytes from the waiting archive instead of packing it (the user's own
// version is there), and packs every other file as it is now (the user may
// have changed it since); the result replaces the waiting archive only when
// nothing is missing.  The unpack writes over the user's files only while
// the archive holds them and "vornback.sum" is on the disk; otherwise they
// stay as they are.
#include "payload/payload.h"
#include "payload/texts.h"
#include "payload/voz.h"
#include "setup/context.h"
#include "setup/log.h"
#include "userdata/texts.h"
#include "userdata/userdata.h"

namespace {

struct UserDataFile {
    const char* name;
    bool toBak;     // packed as the ".bak" copy of the ".voh" file
    bool required;  // missing: nothing usable was backed up
};

const UserDataFile kUserDataFiles[] = {
    {"vorncyzk.voh", true, true},  {"cfontset.voh", true, true},  {"cwbzlcz1.voh", true, true},
    {"vowbcmxz.voh", true, true},  {"vodhzcm.voh", true, true},   {"vorndhz.voh", true, true},
    {"vogbkhz.voh", true, true},   {"voszsj43.voh", false, true}, {"vorndwdw.txt", false, true},
    {"vornzdym.voh", false, true}, {"vopyzdym.voh", false, true}, {"vowbpy.txt", false, true},
    {"vornynhz.txt", false, true}, {"vornzdfh.voh", false, true}, {"userck.txt", false, false},
    {"delck.txt", false, false},   {"ftvozdym.txt", false, false}, {"ftpyzdym.txt", false, false},
    {"cwb.ov1", false, false},     {"vornpymb.ov1", false, false}, {"vogbkbh.voh", false, false},
    {"voszsj05.voh", false, false}, {"voszsj06.voh", false, false},
};
enum { kRows = sizeof(kUserDataFiles) / sizeof(kUserDataFiles[0]) };

// Room for the digests of several payload versions (a user may try an
// older and a newer setup); when full, the oldest go first.
enum { kSetupBytesEntries = 96, kWaitingFileBytes = 8192, kWaitingArchiveLimit = 0x7FFF0000 };

// The digests of the bytes the setup writes into the user's file names.
struct SetupBytes {
    int count;
    struct {
        char name[kVozNameField];
        char digest[kDigestChars];
    } entry[kSetupBytesEntries];
};

// "x.voh" -> "x.bak" in `out`; false when the name has no ".voh" to swap.
bool BakName(const char* name, char* out, size_t cbOut) {
    size_t n = strlen(name);
    if (n < 4 || n >= cbOut || strcmp(name + n - 4, ".voh") != 0) return false;
    memcpy(out, name, n - 4);
    memcpy(out + n - 4, ".bak", 5);
    return true;
}

bool IsFile(LPCSTR path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsUserFileName(LPCSTR name) {
    for (size_t i = 0; i < kRows; i++)
        if (strcmp(kUserDataFiles[i].name, name) == 0) return true;
    return false;
}

// 32 upper-case hexadecimal characters, as DigestHex writes them.
bool IsDigest(const char* text) {
    for (int i = 0; i < 32; i++)
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'A' && text[i] <= 'F'))) return false;
    return true;
}

// Adds one name's digest; 1 when it was new, 0 when already listed.
int AddSetupBytes(SetupBytes* s, LPCSTR name, const char* digest) {
    for (int i = 0; i < s->count; i++)
        if (strcmp(s->entry[i].name, name) == 0 && memcmp(s->entry[i].digest, digest, 32) == 0) return 0;
    if (s->count == kSetupBytesEntries) {
        memmove(&s->entry[0], &s->entry[1], sizeof(s->entry[0]) * (kSetupBytesEntries - 1));
        s->count--;
    }
    memset(&s->entry[s->count], 0, sizeof(s->entry[0]));
    CopyText(s->entry[s->count].name, sizeof(s->entry[0].name), name);
    memcpy(s->entry[s->count].digest, digest, 32);
    s->count++;
    return 1;
}

// The payload's members of the user's file names, as its records give them;
// the number newly added.
int AddShippedBytes(SetupBytes* s) {
    MemberIterator it;
    if (!g_ctx.payload || !VozBegin(&it, g_ctx.payload, g_ctx.payloadBytes, kMarkerExact) || it.legacy) return 0;
    int added = 0;
    VozMember member;
    while (VozNext(&it, &member))
        if (IsUserFileName(member.name) && IsDigest(member.digest))
            added += AddSetupBytes(s, member.name, member.digest);
    return added;
}

bool WaitingPath(LPCSTR dir, char* path, size_t cbPath) {
    return FormatPath(path, cbPath, FMT_INSTALL_FILE, dir, BACKUP_WAITING);
}

// Reads "vornback.sum" of `dir`: 1 when it is there (its lines in `s`; a
// line that is not a user file's name and a digest is skipped), 0 when it
// is not, -1 when it is there but cannot be read.
int ReadWaiting(LPCSTR dir, SetupBytes* s) {
    memset(s, 0, sizeof(*s));
    char path[MAX_PATH];
    if (!WaitingPath(dir, path, sizeof(path))) return -1;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 0;
    DWORD cb = 0;
    HGLOBAL block = ReadFileShared(path, kWaitingFileBytes, 0, &cb);
    if (!block) return -1;
    const char* text = (const char*)block;
    for (DWORD at = 0; at < cb;) {
        DWORD end = at;
        while (end < cb && text[end] != '\n') end++;
        DWORD n = end > at && text[end - 1] == '\r' ? end - 1 - at : end - at;
        const char* space = (const char*)memchr(text + at, ' ', n);
        DWORD cbName = space ? (DWORD)(space - (text + at)) : 0;
        if (space && cbName >= 1 && cbName <= kVozMaxName && n - cbName - 1 == 32 && IsDigest(space + 1)) {
            char name[kVozNameField];
            memcpy(name, text + at, cbName);
            name[cbName] = 0;
            if (IsUserFileName(name)) AddSetupBytes(s, name, space + 1);
        }
        at = end + 1;
    }
    GlobalFree(block);
    return 1;
}

// Written whole and on the disk before the bytes it lists are written.
bool WriteWaiting(LPCSTR dir, const SetupBytes* s) {
    char text[kSetupBytesEntries * (kVozMaxName + 36) + 1];
    size_t used = 0;
    for (int i = 0; i < s->count; i++) {
        int n = snprintf(text + used, sizeof(text) - used, FMT_WAITING_LINE, s->entry[i].name, s->entry[i].digest);
        if (n < 0 || (size_t)n >= sizeof(text) - used) return false;
        used += (size_t)n;
    }
    char path[MAX_PATH];
    return WaitingPath(dir, path, sizeof(path)) && WriteFileWhole(path, text, (DWORD)used, NULL, true);
}

// Whether the file `path` of the user file `name` holds bytes the setup
// wrote into that name: 1 yes, 0 no (or it is not there), -1 when that
// cannot be told (it cannot be read).
int HoldsSetupBytes(const SetupBytes* s, LPCSTR name, LPCSTR path) {
    bool listed = false;
    for (int i = 0; i < s->count && !listed; i++) listed = strcmp(s->entry[i].name, name) == 0;
    if (!listed || !IsFile(path)) return 0;
    DWORD cb = 0;
    HGLOBAL block = ReadFileShared(path, kVozMaxMemberBytes, 0, &cb);
    if (!block) return -1;
    char digest[kDigestChars];
    DigestHex(block, cb, digest);
    GlobalFree(block);
    if (!digest[0]) return -1;
    for (int i = 0; i < s->count; i++)
        if (strcmp(s->entry[i].name, name) == 0 && memcmp(s->entry[i].digest, digest, 32) == 0) return 1;
    return 0;
}

bool HasMember(const BYTE* archive, DWORD cbArchive, LPCSTR name) {
    MemberIterator it;
    if (!archive || !VozBegin(&it, archive, cbArchive, kMarkerExact) || it.legacy) return false;
    VozMember member;
    while (VozNext(&it, &member))
        if (strcmp(member.name, name) == 0) return true;
    return false;
}

// The unpack leaves the user file `name` as it is.
void KeepUserFile(LPCSTR name) {
    size_t used = strlen(g_ctx.userFilesKept);
    snprintf(g_ctx.userFilesKept + used, sizeof(g_ctx.userFilesKept) - used, "%s ", name);
}

// The archive no longer waits: its files are back, or the user declined them.
void EndWaiting(void) {
    char path[MAX_PATH];
    if (!g_ctx.previousDir[0] || !WaitingPath(g_ctx.previousDir, path, sizeof(path))) return;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
    if (DeleteIfPresent(path) == 0) LogEvent(LOG_BACKUP_DONE_WAITING, BACKUP_ARCHIVE_NAME);
}

}  // namespace

const char* const* InstallFileNames(void) {
    static const char* const kFixed[] = {FILE_EDITION_MARKER, FILE_NET_SETTINGS,  FILE_INSTALL_STAMP,
                                         BACKUP_ARCHIVE_NAME, BACKUP_ARCHIVE_SPARE, BACKUP_WAITING,
                                         NAME_IME32,          NAME_PHRASES5_DAT,  NAME_PHRASESPY_DAT};
    enum { kFixedNames = sizeof(kFixed) / sizeof(kFixed[0]) };
    static char s_bak[kRows][kVozNameField];
    static const char* s_names[kFixedNames + 2 * kRows + 1];
    if (!s_names[0]) {
        size_t n = 0;
        for (size_t i = 0; i < kFixedNames; i++) s_names[n++] = kFixed[i];
        for (size_t i = 0; i < kRows; i++) {
            s_names[n++] = kUserDataFiles[i].name;
            if (kUserDataFiles[i].toBak && BakName(kUserDataFiles[i].name, s_bak[i], sizeof(s_bak[i])))
                s_names[n++] = s_bak[i];
        }
        s_names[n] = NULL;
    }
    return s_names;
}

bool BackupUserData(void) {
    g_ctx.userFilesSaved = 0;
    g_ctx.userFilesKept[0] = 0;
    // Without a recorded installation every path would be a bare name in the
    // current directory (typically the download folder): nothing to save.
    if (!g_ctx.previousDir[0]) return false;
    // A file an interrupted run left under a spare name is the user's: back first.
    RecoverSetAsideIn(g_ctx.previousDir);
    char archive[MAX_PATH];
    char spare[MAX_PATH];
    if (!FormatPath(archive, sizeof(archive), FMT_INSTALL_FILE, g_ctx.previousDir, BACKUP_ARCHIVE_NAME) ||
        !FormatPath(spare, sizeof(spare), FMT_INSTALL_FILE, g_ctx.previousDir, BACKUP_ARCHIVE_SPARE))
        return false;
    // A spare left by an interrupted run would be appended to; one that
    // cannot be removed leaves no way to write a clean archive.
    if (DeleteIfPresent(spare) == -1) return false;

    // What waits to be restored, and which bytes in the user's file names
    // are the setup's.  Whatever of that cannot be read, nothing is packed:
    // the user's files stay as they are.
    SetupBytes written;
    int waitingMark = ReadWaiting(g_ctx.previousDir, &written);
    if (waitingMark < 0) return false;
    DWORD cbWaiting = 0;
    HGLOBAL waiting = NULL;
    if (waitingMark > 0) {
        waiting = ReadFileShared(archive, kWaitingArchiveLimit, 0, &cbWaiting);
        DWORD error = GetLastError();
        if (!waiting && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
        if (waiting) LogEvent(LOG_BACKUP_WAITING, archive);
    }
    AddShippedBytes(&written);

    bool allRequired = true;
    bool complete = true;  // every listed file that is there went in
    for (size_t i = 0; i < kRows; i++) {
        const UserDataFile& row = kUserDataFiles[i];
        char source[MAX_PATH];
        char member[kVozNameField];
        char bakPath[MAX_PATH];
        if (!FormatPath(source, sizeof(source), FMT_INSTALL_FILE, g_ctx.previousDir, row.name)) return false;
        CopyText(member, sizeof(member), row.name);
        if (row.toBak && (!BakName(row.name, member, sizeof(member)) ||
                          !FormatPath(bakPath, sizeof(bakPath), FMT_INSTALL_FILE, g_ctx.previousDir, member)))
            return false;
        int setup = HoldsSetupBytes(&written, row.name, source);
        if (setup < 0) {
            // Whether the file is the user's cannot be told: it is not packed.
            if (row.required) allRequired = false;
            complete = false;
            KeepUserFile(row.name);
            LogEvent(LOG_BACKUP_NOT_PACKED, source, (unsigned long)GetLastError());
            continue;
        }
        // The user's own version of a file the setup wrote over waits in the archive.
        if (setup && waiting && HasMember((const BYTE*)waiting, cbWaiting, member)) {
            if (AddMemberFromArchive(spare, (const BYTE*)waiting, cbWaiting, member)) continue;
            if (row.required) allRequired = false;
            complete = false;
            LogEvent(LOG_BACKUP_NOT_TAKEN, member, (unsigned long)GetLastError());
            continue;
        }
        if (row.toBak) {
            // After a restore, the user's version of a ".voh" the setup
            // wrote is the ".bak" beside it, which the copy would replace.
            // The running input method may hold the ".voh" open for
            // writing: it is read with sharing, and the ".bak" replaced
            // whole.  A failed copy leaves the older ".bak", which is packed
            // instead.
            if (!(setup && IsFile(bakPath)) && !CopyFileWhole(source, bakPath, true)) {
                DWORD error = GetLastError();
                if (IsFile(source)) {
                    complete = false;
                    KeepUserFile(row.name);
                    LogEvent(LOG_BACKUP_NOT_COPIED, source, bakPath, (unsigned long)error);
                }
            }
            CopyText(source, sizeof(source), bakPath);
        }
        if (AddFileToArchive(spare, source)) continue;
        DWORD error = GetLastError();
        if (row.required) allRequired = false;
        // One that is not there has nothing to lose; one that is there stays
        // where it is.
        if (IsFile(source)) {
            complete = false;
            KeepUserFile(row.name);
            LogEvent(LOG_BACKUP_NOT_PACKED, source, (unsigned long)error);
        }
    }
    bool wasWaiting = waiting != NULL;
    if (waiting) GlobalFree(waiting);

    if (!IsFile(spare)) return false;  // nothing of the earlier installation was found
    // Without every required file nothing is offered for restoring.  When a
    // file that is there could not be packed either, an earlier archive
    // stays (it may hold the only other copy), and so does a waiting one;
    // the user's files then stay as they are, so the new one is no one's
    // only copy and goes.
    if (!complete && (wasWaiting || !allRequired) && IsFile(archive)) {
        LogEvent(LOG_BACKUP_EARLIER_KEPT, archive);
        DeleteFileA(spare);
        return false;
    }
    // On the disk before it replaces the earlier archive, power cut or not;
    // replaced in one step, as every file is.  If either fails, both
    // archives stay as they are.
    if (!FlushFileToDisk(spare) || !SwapIntoPlace(spare, archive)) return false;
    // From here on the archive may become the only copy of the user's files
    // (all but those it lacks, which stay as they are).
    if (WriteWaiting(g_ctx.previousDir, &written))
        g_ctx.userFilesSaved = 1;
    else
        LogEvent(LOG_BACKUP_UNSAVED, BACKUP_WAITING, (unsigned long)GetLastError());
    return allRequired;
}

void AskKeepUserData(void) {
    if (g_ctx.backupState != kBackupDone) return;
    bool sameDirectory = strcmp(g_ctx.installDir, g_ctx.previousDir) == 0;
    // Unattended: Yes, the earlier data comes back rather than being lost.
    int answer = ShowMessageW(sameDirectory ? MSG_KEEP_SAME_DIR_W : MSG_KEEP_OTHER_DIR_W, TITLE_SETUP_W, MB_YESNO,
                              IDYES);
    if (answer == IDYES)
        g_ctx.backupState = kBackupKeep;
    else
        EndWaiting();
}

void UserDataRestored(void) { EndWaiting(); }

void PrepareUserFilesForUnpack(void) {
    // An unfinished backup's archive is no one's only copy: its files stayed
    // where they were.
    char path[MAX_PATH];
    const LPCSTR dirs[] = {g_ctx.previousDir, g_ctx.installDir};
    for (LPCSTR dir : dirs)
        if (dir[0] && FormatPath(path, sizeof(path), FMT_INSTALL_FILE, dir, BACKUP_ARCHIVE_SPARE) &&
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            DeleteIfPresent(path);
    // In the window, the user's files in the installation directory are
    // saved only by this run's backup of that directory (but for those it
    // lacks, which it named); whatever else of an earlier installation is
    // there (one the record does not name) is no one's to replace.  The
    // silent install replaces the earlier files; while an archive waits,
    // its record must first list the bytes written over them.
    if (!g_ctx.userFilesSaved || strcmp(g_ctx.installDir, g_ctx.previousDir) != 0) {
        g_ctx.userFilesKept[0] = 0;
        bool overwrite = false;
        if (g_ctx.runState == kRunSilent) {
            SetupBytes written;
            int waitingMark = ReadWaiting(g_ctx.installDir, &written);
            overwrite = waitingMark == 0 || (waitingMark > 0 && (AddShippedBytes(&written) == 0 ||
                                                                 WriteWaiting(g_ctx.installDir, &written)));
        }
        for (size_t i = 0; i < kRows && !overwrite && g_ctx.installDir[0]; i++)
            if (FormatPath(path, sizeof(path), FMT_INSTALL_FILE, g_ctx.installDir, kUserDataFiles[i].name) &&
                IsFile(path))
                KeepUserFile(kUserDataFiles[i].name);
        // Silent, the install then lacks what an undisturbed one leaves.
        if (g_ctx.runState == kRunSilent && g_ctx.userFilesKept[0]) NoteFailure();
    }
    if (g_ctx.userFilesKept[0]) LogEvent(LOG_USER_FILES_KEPT, g_ctx.userFilesKept);
}

bool NoteSetupWrite(LPCSTR name, const void* bytes, DWORD cbBytes) {
    SetupBytes written;
    int waitingMark = g_ctx.installDir[0] ? ReadWaiting(g_ctx.installDir, &written) : 0;
    if (waitingMark <= 0) return waitingMark == 0;  // nothing waits; or it cannot be told
    char digest[kDigestChars];
    DigestHex(bytes, cbBytes, digest);
    if (!digest[0]) return false;
    return AddSetupBytes(&written, name, digest) == 0 || WriteWaiting(g_ctx.installDir, &written);
}
