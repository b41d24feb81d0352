// Preservation of the user's earlier data: whether it comes back.
#include "setup/context.h"
#include "userdata/texts.h"
#include "userdata/userdata.h"

void AskKeepUserData(void) {
    if (g_ctx.backupState != kBackupDone) return;
    bool sameDirectory = strcmp(g_ctx.installDir, g_ctx.previousDir) == 0;
    // Unattended: Yes, the earlier data comes back rather than being lost.
    int answer = ShowMessageW(sameDirectory ? MSG_KEEP_SAME_DIR_W : MSG_KEEP_OTHER_DIR_W, TITLE_SETUP_W, MB_YESNO,
                              IDYES);
    if (answer == IDYES) g_ctx.backupState = kBackupKeep;
}
