// Preservation of the user's earlier data: the backup of the previous
// installation's files into "vornback.voz" before the payload overwrites
// them, and the question whether they come back.
//
// No user data may be lost by the backup.  The new archive is written under
// a spare name and replaces the earlier one once every required file went
// in; a listed file that is there but cannot be read (held without sharing,
// say) is left out and named in the log.  When a required file that is there
// could not be packed, or the backup is interrupted, the earlier archive
// stays as it was and the new one waits under the spare name.  Every file
// that exists is packed, even after a required one failed, so that support
// can always restore the user's files with `voz`.
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

}  // namespace

const char* const* InstallFileNames(void) {
    static const char* const kFixed[] = {FILE_EDITION_MARKER, FILE_NET_SETTINGS,   FILE_INSTALL_STAMP,
                                         BACKUP_ARCHIVE_NAME, BACKUP_ARCHIVE_SPARE, NAME_IME32,
                                         NAME_PHRASES5_DAT,   NAME_PHRASESPY_DAT};
    enum { kRows = sizeof(kUserDataFiles) / sizeof(kUserDataFiles[0]), kFixedNames = sizeof(kFixed) / sizeof(kFixed[0]) };
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

    bool allRequired = true;
    bool complete = true;  // every listed file that is there went in
    for (size_t i = 0; i < sizeof(kUserDataFiles) / sizeof(kUserDataFiles[0]); i++) {
        const UserDataFile& row = kUserDataFiles[i];
        char source[MAX_PATH];
        if (!FormatPath(source, sizeof(source), FMT_INSTALL_FILE, g_ctx.previousDir, row.name)) return false;
        if (row.toBak) {
            char bak[kDirChars];
            char bakPath[MAX_PATH];
            if (!BakName(row.name, bak, sizeof(bak)) ||
                !FormatPath(bakPath, sizeof(bakPath), FMT_INSTALL_FILE, g_ctx.previousDir, bak))
                return false;
            // The running input method may hold the ".voh" open for writing:
            // it is read with sharing, and the ".bak" replaced whole.  A
            // failed copy leaves the older ".bak", which is packed instead.
            if (!CopyFileWhole(source, bakPath, true)) {
                DWORD error = GetLastError();
                if (IsFile(source)) {
                    complete = false;
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
            LogEvent(LOG_BACKUP_NOT_PACKED, source, (unsigned long)error);
        }
    }

    if (!IsFile(spare)) return false;  // nothing of the earlier installation was found
    // Without every required file nothing is offered for restoring; when a
    // file that is there could not be packed either, an earlier archive stays
    // (it may hold the only other copy) and the new one waits under the spare
    // name for support.
    if (!allRequired && !complete && IsFile(archive)) {
        LogEvent(LOG_BACKUP_EARLIER_KEPT, archive, spare);
        return false;
    }
    // On the disk before it replaces the earlier archive, power cut or not;
    // replaced in one step, as every file is.  If either fails, both
    // archives stay as they are.
    if (!FlushFileToDisk(spare) || !SwapIntoPlace(spare, archive)) return false;
    return allRequired;
}

void AskKeepUserData(void) {
    if (g_ctx.backupState != kBackupDone) return;
    bool sameDirectory = strcmp(g_ctx.installDir, g_ctx.previousDir) == 0;
    // Unattended: Yes, the earlier data comes back rather than being lost.
    int answer = ShowMessageW(sameDirectory ? MSG_KEEP_SAME_DIR_W : MSG_KEEP_OTHER_DIR_W, TITLE_SETUP_W, MB_YESNO,
                              IDYES);
    if (answer == IDYES) g_ctx.backupState = kBackupKeep;
}
