// The install sequence: the fixed, ordered steps that put the input method
// on the machine.  Each step reports its own failures and the sequence goes
// on, except for a locked old input method, which stops it before anything
// is placed or registered.
#include "imereg/imereg.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/texts.h"
#include "userdata/userdata.h"

// One level; an existing directory is fine, one that cannot be had is noted.
static void CreateOneDirectory(LPCSTR path) {
    if (!CreateDirectoryA(path, NULL) && !DirectoryExists(path)) NoteFailure();
}

// A loaded input method can be renamed but not deleted: true when the old
// file at `dir`\vornhu4.ime is gone or moved aside.
static bool ClearOldIme(LPCSTR dir, bool flagOnDeleteFailure) {
    char path[MAX_PATH];
    if (!FormatPath(path, sizeof(path), FMT_OLD_IME, dir)) return true;
    if (DeleteIfPresent(path) != -1) return true;
    if (flagOnDeleteFailure) g_ctx.oldImeInUse = 1;
    if (RenameAside(path) != -1) return true;
    g_ctx.oldImeInUse = 1;
    return false;
}

static void StopForLockedIme(void) {
    g_ctx.sequenceStopped = 1;
    MessageBoxW(NULL, MSG_IME_LOCKED_W, TITLE_INSTALL_W, MB_OK);
}

// Only when an earlier version is in the preload list can its file be loaded.
static bool OldImeReplaceable(void) {
    FetchSystemDirectory();
    if (Is64BitWindows()) {
        SetLowIntegrity();
        WowDirectory(g_ctx.wowDir, sizeof(g_ctx.wowDir));
        if (!ClearOldIme(g_ctx.wowDir, true)) return false;
    }
    // A 32-bit process would otherwise test SysWOW64's file twice.
    PVOID redirection = DisableFsRedirection();
    bool cleared = ClearOldIme(g_ctx.systemDir, false);
    RestoreFsRedirection(redirection);
    return cleared;
}

static void RegisterKeyboardLayout(void) {
    g_ctx.registrationResult = RegisterImeLayout() ? 1 : 0;
    if (!g_ctx.registrationResult) RegisterLayoutManually();
    if (g_ctx.windowsMajor <= 5) {
        FindImeInPreload();
        PromoteImeInPreload();
    }
}

static void StartRegistration64(void) {
    char command[2 * kDirChars + 64];
    if (!FormatPath(command, sizeof(command), FMT_REGISTER64, g_ctx.installDir, g_ctx.installDir)) return;
    WinExec(command, SW_SHOW);
}

void RunInstallSequence(void) {
    char path[MAX_PATH];
    g_ctx.sequenceStopped = 0;
    ResolveInstallDirectory();
    FetchSystemDirectory();
    if (!WritePathRecord()) NoteFailure();
    CreateOneDirectory(g_ctx.installDir);
    GrantUserFullAccess(g_ctx.installDir);
    if (FormatPath(path, sizeof(path), FMT_FILER_DIR, g_ctx.installDir)) CreateOneDirectory(path);
    WriteConfigurationFiles();

    FindImeInPreload();
    g_ctx.oldImeInUse = 0;
    if (g_preload.hit && !OldImeReplaceable()) {
        StopForLockedIme();
        return;
    }

    PlaceProgramFiles(kPlaceUnpack);
    RegisterKeyboardLayout();
    PlaceProgramFiles(kPlaceReplace);
    WriteBrowserTag();
    if (FormatPath(path, sizeof(path), FMT_AUTOSTART, g_ctx.installDir)) WriteAutoStartEntry(path);
    if (Is64BitWindows()) StartRegistration64();
}
