// The install sequence: the fixed, ordered steps that put the input method
// on the machine.  Each step reports its own failures and the sequence goes
// on, except for a locked old input method, which stops it before anything
// is placed or registered.
#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "payload/payload.h"
#include "payload/texts.h"
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
    // The system account's language list is no one's to use, and its call
    // could only fail a deployment that did everything else.
    if (!RunsAsSystemAccount())
        AddLayoutToUserProfiles(layoutId);
    else if (IsWindows8OrLater())
        LogEvent(LOG_PROFILE_SYSTEM_ACCOUNT);
    AddLayoutForSessionUser(layoutId);
}

// ---- the 64-bit registration program -------------------------------------------
//
// It runs with this program's rights, so it runs from a directory made for
// it that only administrators can change, with the bytes of its payload
// member: never from the installation directory, where a program of the
// user could have replaced it or put a DLL beside it, which Windows would
// load from there first.  The setup waits for it before it ends and then
// removes the directory.

enum { kRegister64WaitMs = 10 * 60 * 1000, kRegister64IdleMs = 30 * 1000 };

static struct {
    HANDLE process;
    char dir[MAX_PATH];
    char exe[MAX_PATH];
} s_register64;

// The Windows Temp directory, or the Windows directory without one (NT 4.0).
static bool PrivateDirectoryParent(char* out, size_t cbOut) {
    FetchWindowsDirectory();
    if (!g_ctx.windowsDir[0]) return false;
    if (FormatPath(out, cbOut, FMT_WINDOWS_TEMP, g_ctx.windowsDir) && DirectoryExists(out)) return true;
    return FormatPath(out, cbOut, "%s", g_ctx.windowsDir);
}

// The directory and what is in it; what cannot go now (the program still
// running, or held) goes at the restart.  True when both went now.
static bool RemovePrivateDirectory(bool now = true) {
    if (now) DeleteFileA(s_register64.exe);
    if (now && RemoveDirectoryA(s_register64.dir)) return true;
    MoveFileExA(s_register64.exe, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(s_register64.dir, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
}

// Directories of earlier runs that could not go (every call failing, or the
// restart that removes them not yet come).  Each is held while its program
// goes, so that no link can take its place meanwhile.
static void RemoveLeftPrivateDirectories(LPCSTR parent) {
    char pattern[MAX_PATH];
    WIN32_FIND_DATAA found;
    if (!FormatPath(pattern, sizeof(pattern), FMT_PRIVATE_DIRS, parent)) return;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        char dir[MAX_PATH], exe[MAX_PATH];
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                FILE_ATTRIBUTE_DIRECTORY ||
            !FormatPath(dir, sizeof(dir), "%s\\%s", parent, found.cFileName) ||
            !FormatPath(exe, sizeof(exe), FMT_REGISTER64_EXE, dir))
            continue;
        HANDLE pin = PinPlainDirectory(dir);
        if (pin == INVALID_HANDLE_VALUE) continue;
        DeleteFileA(exe);
        CloseHandle(pin);
        RemoveDirectoryA(dir);
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

static void RefuseRegistration64(LPCSTR why) {
    char reason[128];
    snprintf(reason, sizeof(reason), "%s", why);
    LogEvent(LOG_REGISTER64_NOT_STARTED, reason);
    NoteFailure();
}

// The started program inherits this process's environment: the quiet
// setting and the log path go there, since its command line must end with
// the directory, and that this setup (which holds the lock) started it.
// Each is set or cleared every time, so the program hears only what this
// run was asked.
static void StartRegistration64(void) {
    char parent[MAX_PATH];
    char command[2 * MAX_PATH + 64];
    DWORD cb = 0;
    BYTE* data = ExpandVerifiedMember(NAME_SETUPW64, &cb);
    if (!data) return RefuseRegistration64(LOG_REGISTER64_NO_BYTES);
    PatchVersionText(data, cb);
    if (!PrivateDirectoryParent(parent, sizeof(parent))) return RefuseRegistration64(LOG_REGISTER64_NO_DIRECTORY);
    RemoveLeftPrivateDirectories(parent);
    if (!CreatePrivateDirectory(parent, s_register64.dir, sizeof(s_register64.dir)))
        return RefuseRegistration64(LOG_REGISTER64_NO_DIRECTORY);
    if (!FormatPath(s_register64.exe, sizeof(s_register64.exe), FMT_REGISTER64_EXE, s_register64.dir) ||
        !FormatPath(command, sizeof(command), FMT_REGISTER64, s_register64.exe, g_ctx.installDir) ||
        !WriteNewFile(s_register64.exe, data, cb)) {
        RemovePrivateDirectory();
        return RefuseRegistration64(LOG_REGISTER64_NOT_WRITTEN);
    }
    SetEnvironmentVariableA(ENV_QUIET, g_ctx.quiet ? ENV_QUIET_ON : NULL);
    SetEnvironmentVariableA(ENV_LOG, LogEnabled() ? LogPath() : NULL);
    // Without it the program would take this setup for another one.
    char self[16];
    snprintf(self, sizeof(self), "%lu", (unsigned long)GetCurrentProcessId());
    if (!SetEnvironmentVariableA(ENV_STARTED_BY, self)) {
        RemovePrivateDirectory();
        return RefuseRegistration64(LOG_REGISTER64_NO_MARK);
    }
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started;
    memset(&started, 0, sizeof(started));
    if (!CreateProcessA(s_register64.exe, command, NULL, NULL, FALSE, 0, NULL, s_register64.dir, &startup, &started)) {
        char why[96];
        snprintf(why, sizeof(why), LOG_REGISTER64_START_FAILED, (unsigned long)GetLastError());
        RemovePrivateDirectory();
        return RefuseRegistration64(why);
    }
    CloseHandle(started.hThread);
    s_register64.process = started.hProcess;
    // As WinExec did: its message is up before the window goes on to the
    // skin dialog, which it would otherwise cover.
    WaitForInputIdle(started.hProcess, kRegister64IdleMs);
    LogEvent(LOG_PROCESS_CREATED, command, (unsigned long)started.dwProcessId);
}

void FinishRegistration64(void) {
    if (!s_register64.process) return;
    DWORD exitCode = STILL_ACTIVE;
    bool ended = WaitForSingleObject(s_register64.process, kRegister64WaitMs) == WAIT_OBJECT_0 &&
                 GetExitCodeProcess(s_register64.process, &exitCode);
    CloseHandle(s_register64.process);
    s_register64.process = NULL;
    if (RemovePrivateDirectory(ended))
        LogEvent(LOG_REGISTER64_ENDED, (unsigned long)exitCode, s_register64.dir);
    else
        LogEvent(LOG_REGISTER64_STILL_RUNNING, s_register64.dir);
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
    // Only the copy no user can change; without it no logon starts the
    // companion at all, rather than one in the installation directory.
    if (g_ctx.runProgram[0] && FormatPath(path, sizeof(path), FMT_AUTOSTART, g_ctx.runProgram))
        WriteAutoStartEntry(path);
    else
        RemoveAutoStartEntry();
    EndStep(STEP_AUTOSTART);
    BeginStep(STEP_PERUSER);
    if (g_ctx.perUserProgram[0] && FormatPath(path, sizeof(path), FMT_PERUSER_COMMAND, g_ctx.perUserProgram))
        WritePerUserEntry(path);
    else
        RemovePerUserEntry();
    EndStep(STEP_PERUSER);
    if (Is64BitWindows()) {
        BeginStep(STEP_REGISTER64);
        StartRegistration64();
        EndStep(STEP_REGISTER64);
    }
}
