// The users the install does not run as.  A deployment tool runs the setup
// as the system account, whose HKEY_CURRENT_USER and account name reach
// nobody who types; an administrator may type his password into a standard
// user's session.  The user at the session gets the layout in his preload
// list now (his hive is loaded under HKEY_USERS while he is logged on), and
// every user, later ones and new profiles included, gets it at his next
// logon from the per-user step, which Active Setup runs as him.
#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/log.h"

enum { kSidTextBytes = 192, kIdBytes = 12 };

const BYTE* OtherSessionUser(void) {
    if (!g_ctx.sessionUserAsked) {
        g_ctx.sessionUserAsked = 1;
        BYTE self[kSidBytes];
        char text[kSidTextBytes];
        bool other = IsNtFamily() && CurrentUserSid(self, sizeof(self)) &&
                     SessionUserSid(g_ctx.sessionUserSid, sizeof(g_ctx.sessionUserSid), g_ctx.sessionUserAccount,
                                    sizeof(g_ctx.sessionUserAccount)) &&
                     !EqualSid((PSID)self, (PSID)g_ctx.sessionUserSid) &&
                     SidToText(g_ctx.sessionUserSid, text, sizeof(text));
        if (other)
            LogEventAnsi(LOG_SESSION_USER, g_ctx.sessionUserAccount, text);
        else
            g_ctx.sessionUserAccount[0] = 0;
    }
    return g_ctx.sessionUserAccount[0] ? g_ctx.sessionUserSid : NULL;
}

bool RunsAsSystemAccount(void) {
    BYTE self[kSidBytes];
    return CurrentUserSid(self, sizeof(self)) && IsSystemSid(self);
}

void AddLayoutForSessionUser(DWORD layoutId) {
    const BYTE* sid = OtherSessionUser();
    char text[kSidTextBytes];
    char id[kIdBytes];
    if (!sid || !layoutId || !SidToText(sid, text, sizeof(text))) return;
    snprintf(id, sizeof(id), "%08lx", (unsigned long)layoutId);
    HKEY hive;
    bool added = false;
    if (RegOpenKeyExA(HKEY_USERS, text, 0, KEY_READ, &hive) == ERROR_SUCCESS) {
        added = AddImeToPreloadOf(hive, id);
        RegCloseKey(hive);
    }
    LogEvent(LOG_SESSION_PRELOAD, id, g_ctx.sessionUserAccount, text, added ? LOG_DONE : LOG_NOT_DONE);
    if (IsWindows8OrLater()) LogEvent(LOG_SESSION_PROFILE_LATER, g_ctx.sessionUserAccount);
}

bool RunPerUserStep(void) {
    Is64BitWindows();
    DWORD layoutId = FindRegisteredLayout();
    if (!layoutId) {
        LogEvent(LOG_PERUSER_NOTHING);
        return false;
    }
    char id[kIdBytes];
    snprintf(id, sizeof(id), "%08lx", (unsigned long)layoutId);
    LogEvent(LOG_PERUSER_STEP, (unsigned long)layoutId);
    AddImeToPreloadOf(HKEY_CURRENT_USER, id);
    AddLayoutToUserProfiles(layoutId);
    return true;
}
