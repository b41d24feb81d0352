// Access lists of what the install makes: a fresh directory only
// administrators can write, for the programs the setup starts, and the
// access the installation directory gives its user.
//
// Each list is set on the object itself, through a handle that does not
// follow a link, and is never passed on to what a directory already holds:
// SetNamedSecurityInfo would hand the user's access to every file below,
// a hard link to a file elsewhere included.  Everything here exists on
// Windows NT 4.0; what came later (protection from inheritance, Windows
// 2000) is looked up at run time.
#include "payload/payload.h"
#include "payload/texts.h"
#include "setup/log.h"

enum { kPrivateDirAttempts = 16, kMaxDescriptorBytes = 65536 };

// A well-known SID of the NT authority (or the creator authority) with up to
// two sub-authorities, written into `out` (SECURITY_MAX_SID_SIZE bytes).
static void WellKnownSid(BYTE* out, BYTE authority, BYTE count, DWORD a, DWORD b) {
    memset(out, 0, kSidBytes);
    out[0] = 1;
    out[1] = count;
    out[7] = authority;
    DWORD sub[2] = {a, b};
    for (BYTE i = 0; i < count && i < 2; i++) memcpy(out + 8 + 4 * i, &sub[i], 4);
}

static void AdministratorsSid(BYTE* out) { WellKnownSid(out, 5, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS); }
static void SystemSid(BYTE* out) { WellKnownSid(out, 5, 1, SECURITY_LOCAL_SYSTEM_RID, 0); }

bool IsAdministratorsOrSystem(PSID sid) {
    BYTE admins[kSidBytes], system[kSidBytes];
    AdministratorsSid(admins);
    SystemSid(system);
    return sid && IsValidSid(sid) && (EqualSid(sid, (PSID)admins) || EqualSid(sid, (PSID)system));
}

bool CurrentUserSid(BYTE* sid, DWORD cbSid) {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + kSidBytes];
    } info;
    DWORD cbNeeded = 0;
    bool got = GetTokenInformation(token, TokenUser, &info, sizeof(info), &cbNeeded) &&
               CopySid(cbSid, sid, info.user.User.Sid);
    CloseHandle(token);
    return got;
}

bool IsSystemSid(const BYTE* sid) {
    BYTE system[kSidBytes];
    SystemSid(system);
    return sid && IsValidSid((PSID)sid) && EqualSid((PSID)sid, (PSID)system);
}

bool SidToText(const BYTE* sid, char* out, size_t cbOut) {
    if (!sid || !IsValidSid((PSID)sid) || !cbOut) return false;
    unsigned long long authority = 0;
    for (int i = 0; i < 6; i++) authority = (authority << 8) | sid[2 + i];
    int cch = snprintf(out, cbOut, "S-%u-%llu", (unsigned)sid[0], authority);
    for (BYTE i = 0; i < sid[1] && cch >= 0 && (size_t)cch < cbOut; i++) {
        DWORD sub;
        memcpy(&sub, sid + 8 + 4 * i, sizeof(sub));
        cch += snprintf(out + cch, cbOut - (size_t)cch, "-%lu", (unsigned long)sub);
    }
    if (cch >= 0 && (size_t)cch < cbOut) return true;
    out[0] = 0;
    return false;
}

// One text of `session` from WTSQuerySessionInformationA into `out`.
static bool SessionText(VORN_WTSQUERYA query, VORN_WTSFREE release, DWORD session, int what, char* out,
                        size_t cbOut) {
    LPSTR text = NULL;
    DWORD cbText = 0;
    out[0] = 0;
    if (!query(NULL, session, what, &text, &cbText) || !text) return false;
    int cch = snprintf(out, cbOut, "%s", text);
    release(text);
    return cch > 0 && (size_t)cch < cbOut;
}

bool SessionUserSid(BYTE* sid, DWORD cbSid, char* account, size_t cbAccount) {
    BYTE self[kSidBytes];
    if (!CurrentUserSid(self, sizeof(self))) return false;
    HMODULE kernel = GetModuleHandleA(DLL_KERNEL32);
    char path[MAX_PATH];
    HMODULE wts = LoadSystemLibrary(DLL_WTSAPI32, path, sizeof(path));
    VORN_WTSQUERYA query = wts ? ProcAs<VORN_WTSQUERYA>(GetProcAddress(wts, FN_WTS_QUERY)) : NULL;
    VORN_WTSFREE release = wts ? ProcAs<VORN_WTSFREE>(GetProcAddress(wts, FN_WTS_FREE)) : NULL;
    // The system account has no session of a user: the console's is the
    // one a person sits at.  Anyone else asks about his own session, where
    // the user who logged on may not be the account this program runs as.
    DWORD session = VORN_WTS_CURRENT_SESSION;
    bool attached = true;
    if (IsSystemSid(self)) {
        VORN_CONSOLESESSION console =
            kernel ? ProcAs<VORN_CONSOLESESSION>(GetProcAddress(kernel, FN_CONSOLE_SESSION)) : NULL;
        // 0xFFFFFFFF: no session is attached to the console.
        session = console ? console() : 0xFFFFFFFFu;
        attached = session != 0xFFFFFFFFu;
    } else {
        VORN_PIDTOSESSION own = kernel ? ProcAs<VORN_PIDTOSESSION>(GetProcAddress(kernel, FN_PID_TO_SESSION)) : NULL;
        DWORD mine = 0;
        if (own && own(GetCurrentProcessId(), &mine)) session = mine;
    }
    char user[128], domain[128];
    DWORD cbFound = cbSid;
    char foundDomain[128];
    DWORD cchFoundDomain = sizeof(foundDomain);
    SID_NAME_USE use;
    bool found = query && release && attached &&
                 SessionText(query, release, session, VORN_WTS_USER_NAME, user, sizeof(user)) &&
                 SessionText(query, release, session, VORN_WTS_DOMAIN_NAME, domain, sizeof(domain)) &&
                 snprintf(account, cbAccount, "%s\\%s", domain, user) < (int)cbAccount &&
                 LookupAccountNameA(NULL, account, sid, &cbFound, foundDomain, &cchFoundDomain, &use) &&
                 IsValidSid((PSID)sid);
    if (wts) FreeLibrary(wts);
    if (!found && cbAccount) account[0] = 0;
    return found;
}

// Appends an ACE granting (or denying) `mask` to `sid` with `flags`.
static bool AppendAce(PACL acl, const BYTE* sid, DWORD mask, BYTE flags, BYTE type = ACCESS_ALLOWED_ACE_TYPE) {
    BYTE ace[sizeof(ACE_HEADER) + sizeof(DWORD) + kSidBytes];
    DWORD cbSid = GetLengthSid((PSID)sid);
    if (!IsValidSid((PSID)sid) || cbSid > kSidBytes) return false;
    WORD size = (WORD)(sizeof(ACE_HEADER) + sizeof(DWORD) + cbSid);
    ACE_HEADER header;
    header.AceType = type;
    header.AceFlags = flags;
    header.AceSize = size;
    memcpy(ace, &header, sizeof(header));
    memcpy(ace + sizeof(header), &mask, sizeof(mask));
    memcpy(ace + sizeof(header) + sizeof(mask), sid, cbSid);
    return AddAce(acl, ACL_REVISION, MAXDWORD, ace, size) != FALSE;
}

bool MakeAdministratorsOnly(AdministratorsOnly* out, DWORD mask, bool ownedByAdministrators) {
    AdministratorsSid(out->admins);
    SystemSid(out->system);
    out->sa.nLength = sizeof(out->sa);
    out->sa.lpSecurityDescriptor = &out->sd;
    out->sa.bInheritHandle = FALSE;
    return InitializeAcl(&out->dacl.acl, sizeof(out->dacl), ACL_REVISION) &&
           AppendAce(&out->dacl.acl, out->admins, mask, 0) && AppendAce(&out->dacl.acl, out->system, mask, 0) &&
           InitializeSecurityDescriptor(&out->sd, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&out->sd, TRUE, &out->dacl.acl, FALSE) &&
           (!ownedByAdministrators || SetSecurityDescriptorOwner(&out->sd, (PSID)out->admins, FALSE));
}

// Keeps `sd`'s DACL from taking entries its directory passes on later, where
// Windows knows that (2000 and later; NT 4.0 passes nothing on by itself).
static void ProtectDacl(SECURITY_DESCRIPTOR* sd) {
    typedef BOOL(WINAPI * SetControl)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL);
    HMODULE advapi = GetModuleHandleA(DLL_ADVAPI32);
    SetControl set = advapi ? ProcAs<SetControl>(GetProcAddress(advapi, FN_SET_SD_CONTROL)) : NULL;
    if (set) set(sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

bool CreatePrivateDirectory(LPCSTR parent, char* out, size_t cbOut) {
    BYTE admins[kSidBytes], system[kSidBytes];
    AdministratorsSid(admins);
    SystemSid(system);
    union {
        ACL acl;
        BYTE bytes[256];
    } dacl;
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    SECURITY_DESCRIPTOR sd;
    if (!InitializeAcl(&dacl.acl, sizeof(dacl), ACL_REVISION) ||
        !AppendAce(&dacl.acl, admins, FILE_ALL_ACCESS, inherit) ||
        !AppendAce(&dacl.acl, system, FILE_ALL_ACCESS, inherit) ||
        !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, &dacl.acl, FALSE))
        return false;
    ProtectDacl(&sd);
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = FALSE;
    // Only a directory this call creates will do: one that is there may be
    // a user's, made in advance under a name he guessed.
    for (int attempt = 0; attempt < kPrivateDirAttempts; attempt++) {
        int cch = snprintf(out, cbOut, FMT_PRIVATE_DIR, parent, (unsigned long)GetCurrentProcessId(),
                           (unsigned long)GetTickCount(), attempt);
        if (cch < 0 || (size_t)cch >= cbOut) break;
        if (CreateDirectoryA(out, &sa)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (cbOut) out[0] = 0;
    return false;
}

// The directory itself, opened to read and change its access list; a
// junction or symbolic link in its place is refused.
static HANDLE OpenDirectoryItself(LPCSTR dir) {
    HANDLE handle = CreateFileA(dir, READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return handle;
    CloseHandle(handle);
    LogEvent(LOG_LINK_REFUSED, dir);
    return INVALID_HANDLE_VALUE;
}

// The ACE at `ace` (an ACCESS_ALLOWED_ACE or ACCESS_DENIED_ACE layout) and
// whether it is the one entry `sid` gets.
static bool IsAceFor(const BYTE* ace, const BYTE* sid) {
    const ACE_HEADER* header = (const ACE_HEADER*)ace;
    return header->AceType == ACCESS_ALLOWED_ACE_TYPE && !(header->AceFlags & INHERITED_ACE) &&
           EqualSid((PSID)(ace + sizeof(ACE_HEADER) + sizeof(DWORD)), (PSID)sid);
}

// The directory's DACL with `sid` given full control of it and of what is
// created in it from now on, in Windows' order: explicit denials, the new
// entry and other explicit grants (an earlier entry of `sid`'s dropped),
// then what the directory inherited.
static bool AddFullControl(PACL old, const BYTE* sid, PACL out, DWORD cbOut) {
    if (!InitializeAcl(out, cbOut, ACL_REVISION)) return false;
    WORD count = old ? old->AceCount : 0;
    for (int round = 0; round < 3; round++) {
        if (round == 1 && !AppendAce(out, sid, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
            return false;
        for (WORD i = 0; i < count; i++) {
            LPVOID ace = NULL;
            if (!GetAce(old, i, &ace)) return false;
            const ACE_HEADER* header = (const ACE_HEADER*)ace;
            bool inherited = (header->AceFlags & INHERITED_ACE) != 0;
            bool deny = header->AceType == ACCESS_DENIED_ACE_TYPE;
            int wanted = inherited ? 2 : deny ? 0 : 1;
            if (wanted != round || (round == 1 && IsAceFor((const BYTE*)ace, sid))) continue;
            if (!AddAce(out, ACL_REVISION, MAXDWORD, ace, header->AceSize)) return false;
        }
    }
    return true;
}

bool GrantDirectoryAccess(LPCSTR dir, const BYTE* sid) {
    HANDLE handle = OpenDirectoryItself(dir);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool granted = false;
    DWORD cbNeeded = 0;
    GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, NULL, 0, &cbNeeded);
    HGLOBAL current = cbNeeded && cbNeeded <= kMaxDescriptorBytes ? GlobalAlloc(GPTR, cbNeeded) : NULL;
    BOOL present = FALSE, defaulted = FALSE;
    PACL old = NULL;
    bool read = current && GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, current, cbNeeded, &cbNeeded) &&
                GetSecurityDescriptorDacl(current, &present, &old, &defaulted);
    // No DACL at all lets everyone do everything already.
    if (read && (!present || !old)) granted = true;
    if (read && present && old) {
        DWORD cbNew = old->AclSize + sizeof(ACE_HEADER) + sizeof(DWORD) + kSidBytes;
        HGLOBAL fresh = GlobalAlloc(GPTR, cbNew);
        SECURITY_DESCRIPTOR sd;
        granted = fresh && AddFullControl(old, sid, (PACL)fresh, cbNew) &&
                  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
                  SetSecurityDescriptorDacl(&sd, TRUE, (PACL)fresh, FALSE) &&
                  SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, &sd);
        if (fresh) GlobalFree(fresh);
    }
    if (current) GlobalFree(current);
    CloseHandle(handle);
    return granted;
}
