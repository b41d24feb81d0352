// The smaller marks an install leaves: the uninstall entry, the auto-start
// entry, the browser's user-agent token, full access to the installation
// directory for the installing account, and its low integrity level.  None
// of them shows a failure: the install goes on whatever they manage.  An
// entry that could not be written is noted for the silent install's exit
// code; the access and integrity changes are not.
#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/log.h"
#include "setup/version.h"

enum { kSystemDirChars = 100 };

static size_t WideLength(LPCWSTR s) {
    size_t n = 0;
    while (s[n]) n++;
    return n;
}

// REG_SZ through the wide call, sized as twice the characters without the terminator.
static void WriteWideText(HKEY key, LPCWSTR name, LPCWSTR text) {
    if (RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)(WideLength(text) * sizeof(WCHAR))) ==
        ERROR_SUCCESS)
        LogRegistryValueW(name, text);
    else
        NoteFailure();
}

// Opens `parentPath` of HKEY_LOCAL_MACHINE for reading and creates or opens
// `name` below it with full access; false (nothing left open) on failure,
// which is noted unless the parent is simply not there (a system without a
// browser has no user-agent key to tag).
static bool OpenMachineEntry(LPCSTR parentPath, LPCSTR name, HKEY* parent, HKEY* key) {
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentPath, 0, KEY_READ, parent);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) NoteFailure();
        return false;
    }
    if (RegCreateKeyExA(*parent, name, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, key, NULL) !=
        ERROR_SUCCESS) {
        RegCloseKey(*parent);
        NoteFailure();
        return false;
    }
    return true;
}

void WriteUninstallEntry(void) {
    HKEY parent, entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY_UNINSTALL_W, 0, KEY_READ, &parent) != ERROR_SUCCESS) {
        NoteFailure();
        return;
    }
    if (RegCreateKeyExW(parent, KEY_UNINSTALL_ENTRY_W, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &entry,
                        NULL) != ERROR_SUCCESS) {
        RegCloseKey(parent);
        NoteFailure();
        return;
    }
    LogRegistryKeyW(LOG_ROOT_HKLM, KEY_UNINSTALL_W, KEY_UNINSTALL_ENTRY_W);
    WriteWideText(entry, VALUE_DISPLAY_NAME_W, DISPLAY_NAME_W);

    WCHAR path[kSystemDirChars + 16];
    UINT n = GetSystemDirectoryW(path, kSystemDirChars);
    size_t cchTail = WideLength(FMT_UNINSTALLER_W);
    if (n > 0 && n < kSystemDirChars && n + cchTail < sizeof(path) / sizeof(path[0])) {
        for (size_t i = 0; i <= cchTail; i++) path[n + i] = FMT_UNINSTALLER_W[i];
        WriteWideText(entry, VALUE_UNINSTALL_STRING_W, path);
    } else {
        NoteFailure();
    }
    WriteWideText(entry, VALUE_DISPLAY_VERSION_W, DISPLAY_VERSION_W);
    WriteWideText(entry, VALUE_PUBLISHER_W, PUBLISHER_W);
    // The program files as the payload expands them, in KiB rounded up; the
    // copies in the system directories are a small part beside them.
    DWORD kib = g_ctx.programBytes / 1024 + (g_ctx.programBytes % 1024 != 0);
    char text[16];
    snprintf(text, sizeof(text), "%lu", (unsigned long)kib);
    if (RegSetValueExW(entry, VALUE_ESTIMATED_SIZE_W, 0, REG_DWORD, (const BYTE*)&kib, sizeof(kib)) == ERROR_SUCCESS)
        LogRegistryValue(VALUE_ESTIMATED_SIZE, text);
    else
        NoteFailure();
    RegCloseKey(entry);
    RegCloseKey(parent);
}

void WriteAutoStartEntry(LPCSTR command) {
    HKEY parent, run;
    if (!command) return;
    if (!OpenMachineEntry(KEY_CURRENT_VERSION, KEY_RUN, &parent, &run)) return;
    LogRegistryKey(LOG_ROOT_HKLM, KEY_CURRENT_VERSION, KEY_RUN);
    RegDeleteValueA(run, VALUE_AUTOSTART);
    if (WriteRegText(run, VALUE_AUTOSTART, command) != ERROR_SUCCESS) NoteFailure();
    RegCloseKey(run);
    RegCloseKey(parent);
}

void RemoveAutoStartEntry(void) {
    HKEY parent, run;
    if (!OpenMachineEntry(KEY_CURRENT_VERSION, KEY_RUN, &parent, &run)) return;
    LONG status = RegDeleteValueA(run, VALUE_AUTOSTART);
    if (status == ERROR_SUCCESS) LogEvent(LOG_AUTOSTART_REMOVED);
    RegCloseKey(run);
    RegCloseKey(parent);
}

void WriteBrowserTag(void) {
    HKEY parent, platform;
    if (!OpenMachineEntry(KEY_USER_AGENT, KEY_POST_PLATFORM, &parent, &platform)) return;
    LogRegistryKey(LOG_ROOT_HKLM, KEY_USER_AGENT, KEY_POST_PLATFORM);
    // Earlier versions: tavk6300 … tavk6800, then tavk7000 … tavk7900.
    char token[] = BROWSER_TOKEN_OLDEST;
    for (char minor = '3'; minor <= '8'; minor++) {
        token[5] = minor;
        RegDeleteValueA(platform, token);
    }
    token[4] = '7';
    for (char minor = '0'; minor <= '9'; minor++) {
        token[5] = minor;
        RegDeleteValueA(platform, token);
    }
    if (RegSetValueExA(platform, BROWSER_TOKEN, 0, REG_SZ, (const BYTE*)"", 0) == ERROR_SUCCESS)
        LogRegistryValue(BROWSER_TOKEN, "");
    else
        NoteFailure();
    RegCloseKey(platform);
    RegCloseKey(parent);
}

// Full control for the account that installs, on the directory itself and
// on what is created in it from now on; nothing the directory already holds
// (the user's files, or a link a program of his put there) gets it.
int GrantUserFullAccess(LPCSTR directory) {
    BYTE user[kSidBytes];
    if (!directory || !CurrentUserSid(user, sizeof(user))) return 0;
    int granted = GrantDirectoryAccess(directory, user) ? 1 : 0;
    // The user who sits there, when the setup runs as someone else: his
    // input method writes its dictionaries there, not the installer's.
    const BYTE* other = OtherSessionUser();
    if (other)
        LogEventAnsi(LOG_SESSION_GRANT, g_ctx.sessionUserAccount,
                     GrantDirectoryAccess(directory, other) ? LOG_DONE : LOG_NOT_DONE);
    return granted;
}

// The 64-bit registry view on 64-bit Windows, where Active Setup runs the
// 64-bit per-user program: a 32-bit setup would otherwise write into
// Wow6432Node.
static REGSAM MachineView(void) { return Is64BitWindows() ? KEY_WOW64_64KEY : 0; }

void WritePerUserEntry(LPCSTR command) {
    HKEY parent, entry;
    REGSAM view = MachineView();
    if (!command) return;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_ACTIVE_SETUP, 0, KEY_READ | view, &parent) != ERROR_SUCCESS) {
        NoteFailure();
        return;
    }
    if (RegCreateKeyExA(parent, ACTIVE_SETUP_ID, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view, NULL, &entry,
                        NULL) != ERROR_SUCCESS) {
        RegCloseKey(parent);
        NoteFailure();
        return;
    }
    LogRegistryKey(LOG_ROOT_HKLM, KEY_ACTIVE_SETUP, ACTIVE_SETUP_ID);
    WriteWideText(entry, WSZ(""), ACTIVE_SETUP_NAME_W);
    // Active Setup runs the step again for a user only when this is higher
    // than what his own key remembers.
    if (WriteRegText(entry, VALUE_AS_VERSION, ACTIVE_SETUP_VERSION) != ERROR_SUCCESS ||
        WriteRegText(entry, VALUE_AS_STUB_PATH, command) != ERROR_SUCCESS)
        NoteFailure();
    DWORD installed = 1;
    if (RegSetValueExA(entry, VALUE_AS_IS_INSTALLED, 0, REG_DWORD, (const BYTE*)&installed, sizeof(installed)) ==
        ERROR_SUCCESS)
        LogEvent(LOG_AS_VALUE_DWORD, VALUE_AS_IS_INSTALLED, (unsigned long)installed);
    else
        NoteFailure();
    RegCloseKey(entry);
    RegCloseKey(parent);
}

// An entry whose program is missing would be run at every logon in vain:
// IsInstalled 0 makes Active Setup pass it by.
void RemovePerUserEntry(void) {
    HKEY parent, entry;
    REGSAM view = MachineView();
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_ACTIVE_SETUP, 0, KEY_READ | view, &parent) != ERROR_SUCCESS) return;
    if (RegOpenKeyExA(parent, ACTIVE_SETUP_ID, 0, KEY_SET_VALUE | view, &entry) == ERROR_SUCCESS) {
        DWORD installed = 0;
        if (RegSetValueExA(entry, VALUE_AS_IS_INSTALLED, 0, REG_DWORD, (const BYTE*)&installed, sizeof(installed)) ==
            ERROR_SUCCESS)
            LogEvent(LOG_AS_DISABLED, ACTIVE_SETUP_ID);
        else
            NoteFailure();
        RegCloseKey(entry);
    }
    RegCloseKey(parent);
}

void SetLowIntegrity(void) {
    char directory[kDirChars];
    char system[MAX_PATH];
    char command[kDirChars + MAX_PATH + 64];
    CopyText(directory, sizeof(directory), g_ctx.installDir);
    size_t n = strlen(directory);
    if (n > 0 && directory[n - 1] == '\\') directory[n - 1] = 0;
    // By full path: a bare "icacls.exe" would be searched for in the current
    // directory first, and run with this process's administrator rights.
    UINT cchSystem = GetSystemDirectoryA(system, sizeof(system));
    if (cchSystem == 0 || cchSystem >= sizeof(system)) return;
    int cch = snprintf(command, sizeof(command), FMT_ICACLS, system, directory);
    if (cch < 0 || (size_t)cch >= sizeof(command)) return;
    UINT started = WinExec(command, SW_SHOW);
    LogProcessStarted(command, started);
}
