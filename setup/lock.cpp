// One setup at a time.  Two setups at once would unpack over the same
// files, edit the same preload lists and back up into the same archive, so
// every run takes a named mutex before it changes anything and keeps it to
// its end; a run that finds it held by another setup changes nothing.
//
// The name lives in the global namespace ("Global\"), so that a setup in
// another session (a deployment tool's, as the system account) counts too.
// Windows NT 4.0 does not know the prefix and refuses the name as a path it
// cannot find; it has one namespace, and the plain name serves there.
//
// Any program may create a mutex of that name first.  Only one created by
// an administrator or the system account counts as a setup's: the setups'
// own mutex is owned by Administrators and only administrators and the
// system account may open it, so no other user can hold it, or keep it
// alive, to stop the next setup.  One a user made first is logged and
// passed over: it can take away the protection, never stop an install.
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/log.h"
#include "setup/texts.h"

static HANDLE s_lock;

// The mutex's owner is Administrators or the system account.
static bool OwnedByAdministrators(HANDLE mutex) {
    union {
        SECURITY_DESCRIPTOR sd;
        BYTE bytes[256];
    } read;
    DWORD cbNeeded = 0;
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    return GetKernelObjectSecurity(mutex, OWNER_SECURITY_INFORMATION, &read, sizeof(read), &cbNeeded) &&
           GetSecurityDescriptorOwner(&read, &owner, &defaulted) && IsAdministratorsOrSystem(owner);
}

// Creates or opens the mutex `name`; a process that may not make
// Administrators the owner (no administrator) makes it its own.
static HANDLE OpenLock(LPCSTR name, DWORD* error) {
    AdministratorsOnly security;
    bool secured = MakeAdministratorsOnly(&security, MUTEX_ALL_ACCESS, true);
    HANDLE lock = CreateMutexA(secured ? &security.sa : NULL, FALSE, name);
    *error = lock ? 0 : GetLastError();
    if (!lock && *error == ERROR_INVALID_OWNER && MakeAdministratorsOnly(&security, MUTEX_ALL_ACCESS, false)) {
        lock = CreateMutexA(&security.sa, FALSE, name);
        *error = lock ? 0 : GetLastError();
    }
    return lock;
}

bool AnotherSetupRuns(void) {
    // The 64-bit registration program runs while the setup that started
    // it holds the lock.
    char startedBy[16];
    DWORD n = GetEnvironmentVariableA(ENV_STARTED_BY, startedBy, sizeof(startedBy));
    if (g_ctx.commandMode == kCommandRegister && n > 0 && n < sizeof(startedBy)) {
        LogEvent(LOG_LOCK_STARTED_BY, startedBy);
        return false;
    }
    LPCSTR name = SETUP_LOCK_GLOBAL;
    DWORD error = 0;
    HANDLE lock = OpenLock(name, &error);
    if (!lock && (error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME)) {
        name = SETUP_LOCK_PLAIN;
        lock = OpenLock(name, &error);
    }
    if (!lock) {
        // A setup's mutex opens for every administrator: one that does not
        // was made by someone else.
        if (error == ERROR_ACCESS_DENIED)
            LogEvent(LOG_LOCK_OTHERS, name);
        else
            LogEvent(LOG_LOCK_NONE, name, (unsigned long)error);
        return false;
    }
    DWORD wait = WaitForSingleObject(lock, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        s_lock = lock;
        LogEvent(wait == WAIT_ABANDONED ? LOG_LOCK_ABANDONED : LOG_LOCK_TAKEN, name);
        return false;
    }
    bool setup = wait == WAIT_TIMEOUT && OwnedByAdministrators(lock);
    CloseHandle(lock);
    if (!setup) LogEvent(LOG_LOCK_OTHERS, name);
    return setup;
}

void ReleaseSetupLock(void) {
    if (!s_lock) return;
    ReleaseMutex(s_lock);
    CloseHandle(s_lock);
    s_lock = NULL;
}
