// Preservation of the user's earlier data: the backup of the previous
// installation's files into "vornback.voz" before the payload overwrites
// them, and the question whether they come back.
//
// No user data may be lost by the backup.  The new archive is written under
// a spare name and replaces the earlier one only when every listed file that
// exists went in; a failed or interrupted backup leaves the earlier archive
// as it was, and the new one under the spare name.  Every file that exists
// is packed, even after a required one failed, so that support can always
// restore the user's files with `voz`.
#include "payload/payload.h"
#include "payload/texts.h"
#include "setup/context.h"
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

bool BackupUserData(void) {
    // Without a recorded installation every path would be a bare name in the
    // current directory (typically the download folder): nothing to save.
    if (!g_ctx.previousDir[0]) return false;
    char archive[MAX_PATH];
    char spare[MAX_PATH];
    if (!FormatPath(archive, sizeof(archive), FMT_INSTALL_FILE, g_ctx.previousDir, BACKUP_ARCHIVE_NAME) ||
        !FormatPath(spare, sizeof(spare), FMT_INSTALL_FILE, g_ctx.previousDir, BACKUP_ARCHIVE_SPARE))
        return false;
    // A spare left by an interrupted run would be appended to; one that
    // cannot be removed leaves no way to write a clean archive.
    if (DeleteIfPresent(spare) == -1) return false;

    bool allRequired = true;
    bool complete = true;
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
            // A failed copy leaves the older ".bak", which is packed instead;
            // the user's current ".voh" is then not in the archive.
            if (!CopyFileA(source, bakPath, FALSE) && IsFile(source)) complete = false;
            CopyText(source, sizeof(source), bakPath);
        }
        if (AddFileToArchive(spare, source)) continue;
        if (row.required) allRequired = false;
        // A file that is there but could not be packed makes the new archive
        // incomplete; one that is not there has nothing to lose.
        if (IsFile(source)) complete = false;
    }

    if (!IsFile(spare)) return false;  // nothing of the earlier installation was found
    // An incomplete archive must not replace a complete earlier one; it stays
    // under the spare name for support, and nothing is offered for restoring
    // (the earlier archive holds older data than the user's files).
    if (!complete && IsFile(archive)) return false;
    // Replaced in one step; the attributes are reset first as for any file
    // that is replaced.  If that fails, both archives stay as they are.
    SetFileAttributesA(archive, FILE_ATTRIBUTE_ARCHIVE);
    if (!MoveFileExA(spare, archive, MOVEFILE_REPLACE_EXISTING)) return false;
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
