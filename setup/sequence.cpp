// The install sequence: the fixed, ordered steps that put the input method
// on the machine.  Each step reports its own failures and the sequence goes
// on, except for a locked old input method, which stops it before anything
// is placed or registered.
#include "imereg/imereg.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/log.h"
#include "setup/texts.h"
#include "userdata/userdata.h"

// One level; an existing directory is fine, one that cannot be had is noted.
static void CreateOneDirectory(LPCSTR path) {
    if (!CreateDirectoryA(path, NULL) && !DirectoryExists(path)) NoteFailure();
}

// Nothing was placed: whatever could not go back at once is put back now.
static void StopForLockedIme(void) {
    RestoreEarlierImes();
    g_ctx.oldImeInUse = 1;
    g_ctx.sequenceStopped = 1;
    ShowMessageW(MSG_IME_LOCKED_W, TITLE_INSTALL_W, MB_OK);
}

static void BeginStep(LPCSTR name) { LogEvent(LOG_STEP_BEGIN, name); }
static void EndStep(LPCSTR name) { LogEvent(LOG_STEP_END, name, g_ctx.reportedFailures); }

// Only when an earlier version is in the preload list can its file be loaded.
// A loaded input method can be renamed but not deleted, a locked one
// neither: each file is moved aside and straight back, which tells a locked
// one apart and leaves the machine its input method until the stub is ready
// to take the name.  SysWOW64's file, when it stays loaded once the new one
// is in place, asks for a restart; the system directory's does not.
static bool OldImeReplaceable(void) {
    FetchSystemDirectory();
    bool movable = true;
    if (Is64BitWindows()) {
        SetLowIntegrity();
        WowDirectory(g_ctx.wowDir, sizeof(g_ctx.wowDir));
        movable = ParkEarlierIme(kImeSlotWow, g_ctx.wowDir, true);
    }
    movable = movable && ParkEarlierIme(kImeSlotSystem, g_ctx.systemDir, false);
    RestoreEarlierImes();
    return movable;
}

static void RegisterKeyboardLayout(void) {
    g_ctx.registrationResult = RegisterImeLayout() ? 1 : 0;
    DWORD layoutId = (DWORD)(ULONG_PTR)g_installedLayout;
    if (!g_ctx.registrationResult) layoutId = RegisterLayoutManually();
    if (g_ctx.windowsMajor <= 5) {
        FindImeInPreload();
        PromoteImeInPreload();
    }
    AddLayoutToUserProfiles(layoutId);
}

// The started program inherits this process's environment: the quiet
// setting and the log path go there, since its command line must end with
// the directory.  Both are set or cleared every time, so the program hears
// only what this run was asked.
static void StartRegistration64(void) {
    char command[2 * kDirChars + 64];
    if (!FormatPath(command, sizeof(command), FMT_REGISTER64, g_ctx.installDir, g_ctx.installDir)) return;
    SetEnvironmentVariableA(ENV_QUIET, g_ctx.quiet ? ENV_QUIET_ON : NULL);
    SetEnvironmentVariableA(ENV_LOG, LogEnabled() ? LogPath() : NULL);
    UINT started = WinExec(command, SW_SHOW);
    LogProcessStarted(command, started);
}

void RunInstallSequence(void) {
    char path[MAX_PATH];
    g_ctx.sequenceStopped = 0;
    BeginStep(STEP_DIRECTORIES);
    ResolveInstallDirectory();
    FetchSystemDirectory();
    if (!WritePathRecord()) NoteFailure();
    CreateOneDirectory(g_ctx.installDir);
    GrantUserFullAccess(g_ctx.installDir);
    if (FormatPath(path, sizeof(path), FMT_FILER_DIR, g_ctx.installDir)) CreateOneDirectory(path);
    RecoverSetAsideFiles();
    EndStep(STEP_DIRECTORIES);
    BeginStep(STEP_CONFIGURATION);
    WriteConfigurationFiles();
    EndStep(STEP_CONFIGURATION);

    BeginStep(STEP_OLD_IME);
    FindImeInPreload();
    g_ctx.oldImeInUse = 0;
    if (g_preload.hit && !OldImeReplaceable()) {
        StopForLockedIme();
        LogEvent(LOG_STEP_STOPPED, STEP_OLD_IME);
        return;
    }
    EndStep(STEP_OLD_IME);

    BeginStep(STEP_UNPACK);
    PlaceProgramFiles(kPlaceUnpack);
    EndStep(STEP_UNPACK);
    BeginStep(STEP_LAYOUT);
    RegisterKeyboardLayout();
    EndStep(STEP_LAYOUT);
    BeginStep(STEP_REPLACE);
    PlaceProgramFiles(kPlaceReplace);
    EndStep(STEP_REPLACE);
    BeginStep(STEP_BROWSER);
    WriteBrowserTag();
    EndStep(STEP_BROWSER);
    BeginStep(STEP_AUTOSTART);
    if (FormatPath(path, sizeof(path), FMT_AUTOSTART, g_ctx.installDir)) WriteAutoStartEntry(path);
    EndStep(STEP_AUTOSTART);
    if (Is64BitWindows()) {
        BeginStep(STEP_REGISTER64);
        StartRegistration64();
        EndStep(STEP_REGISTER64);
    }
}
