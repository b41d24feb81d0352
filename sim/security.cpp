// Security of the simulated machine: the process token, SIDs, access lists
// and security descriptors in Windows' own layouts, the access lists of
// files and directories with their inheritance, and an access check that
// tests ask on behalf of other users.
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "sim/machine.h"

using sim::Ace;
using sim::Current;
using sim::FileEntry;
using sim::Machine;

namespace sim {
const char* const kSidAdministrators = "S-1-5-32-544";
const char* const kSidSystem = "S-1-5-18";
const char* const kSidUsers = "S-1-5-32-545";
const char* const kSidAuthenticatedUsers = "S-1-5-11";
const char* const kSidEveryone = "S-1-1-0";
const char* const kSidCreatorOwner = "S-1-3-0";
}  // namespace sim

namespace {

const HANDLE kProcessPseudoHandle = (HANDLE)(intptr_t)-1;
const HANDLE kTokenHandle = (HANDLE)(intptr_t)0x7001;
const DWORD kFileRightsMask = 0x001F01FF;
// What a lower integrity level may not do to an object (no write up).
const DWORD kWriteUp = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                       WRITE_OWNER | FILE_DELETE_CHILD;

BOOL Fail(DWORD code) {
    Current().lastError = code;
    return FALSE;
}

// ---- SIDs: Revision, SubAuthorityCount, IdentifierAuthority[6] (big-endian),
// SubAuthority[count] (little-endian DWORDs) -----------------------------------

std::string SidText(const void* sid) {
    const BYTE* p = (const BYTE*)sid;
    if (!p || p[0] != 1 || p[1] > 15) return std::string();
    unsigned long long authority = 0;
    for (int i = 0; i < 6; i++) authority = (authority << 8) | p[2 + i];
    std::string text = "S-1-" + std::to_string(authority);
    for (int i = 0; i < p[1]; i++) {
        DWORD sub;
        memcpy(&sub, p + 8 + 4 * i, 4);
        text += "-" + std::to_string(sub);
    }
    return text;
}

sim::Bytes SidBytes(const std::string& text) {
    sim::Bytes out;
    if (text.compare(0, 4, "S-1-") != 0) return out;
    std::vector<unsigned long long> parts;
    size_t at = 4;
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        if (end == std::string::npos) end = text.size();
        parts.push_back(strtoull(text.substr(at, end - at).c_str(), nullptr, 10));
        at = end + 1;
    }
    if (parts.empty() || parts.size() > 16) return out;
    out.push_back(1);
    out.push_back((BYTE)(parts.size() - 1));
    for (int i = 5; i >= 0; i--) out.push_back((BYTE)(parts[0] >> (8 * i)));
    for (size_t i = 1; i < parts.size(); i++)
        for (int b = 0; b < 4; b++) out.push_back((BYTE)(parts[i] >> (8 * b)));
    return out;
}

DWORD SidLength(const void* sid) { return sid ? 8 + 4 * (DWORD)((const BYTE*)sid)[1] : 0; }

// ---- ACLs: an 8-byte header, then the ACEs, each a header, a mask and a SID --

bool ParseAcl(const ACL* acl, std::vector<Ace>* out) {
    out->clear();
    if (!acl) return true;
    const BYTE* base = (const BYTE*)acl;
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; i++) {
        if (at + sizeof(ACE_HEADER) + 4 > acl->AclSize) return false;
        const ACE_HEADER* h = (const ACE_HEADER*)(base + at);
        if (h->AceSize < sizeof(ACE_HEADER) + 4 + 8 || at + h->AceSize > acl->AclSize) return false;
        if (h->AceType != ACCESS_ALLOWED_ACE_TYPE && h->AceType != ACCESS_DENIED_ACE_TYPE) return false;
        Ace a;
        memcpy(&a.mask, base + at + sizeof(ACE_HEADER), 4);
        a.sid = SidText(base + at + sizeof(ACE_HEADER) + 4);
        a.flags = h->AceFlags;
        a.deny = h->AceType == ACCESS_DENIED_ACE_TYPE;
        if (a.sid.empty()) return false;
        out->push_back(a);
        at += h->AceSize;
    }
    return true;
}

sim::Bytes BuildAcl(const std::vector<Ace>& aces) {
    sim::Bytes body;
    for (const Ace& a : aces) {
        sim::Bytes sid = SidBytes(a.sid);
        WORD size = (WORD)(sizeof(ACE_HEADER) + 4 + sid.size());
        body.push_back(a.deny ? ACCESS_DENIED_ACE_TYPE : ACCESS_ALLOWED_ACE_TYPE);
        body.push_back(a.flags);
        body.push_back((BYTE)size);
        body.push_back((BYTE)(size >> 8));
        for (int b = 0; b < 4; b++) body.push_back((BYTE)(a.mask >> (8 * b)));
        body.insert(body.end(), sid.begin(), sid.end());
    }
    ACL header;
    memset(&header, 0, sizeof(header));
    header.AclRevision = ACL_REVISION;
    header.AclSize = (WORD)(sizeof(ACL) + body.size());
    header.AceCount = (WORD)aces.size();
    sim::Bytes out((const BYTE*)&header, (const BYTE*)&header + sizeof(header));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

DWORD MapGeneric(DWORD mask) {
    DWORD mapped = mask & ~(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (mask & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    if (mask & GENERIC_READ) mapped |= FILE_GENERIC_READ;
    if (mask & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
    return mapped;
}

// The DACL of a security descriptor, absolute or self-relative; false for
// one that is not there or does not parse.
bool DaclOf(PSECURITY_DESCRIPTOR sd, std::vector<Ace>* aces, bool* isProtected) {
    const SECURITY_DESCRIPTOR* d = (const SECURITY_DESCRIPTOR*)sd;
    if (!d || d->Revision != SECURITY_DESCRIPTOR_REVISION || !(d->Control & SE_DACL_PRESENT)) return false;
    const ACL* acl = nullptr;
    if (d->Control & SE_SELF_RELATIVE) {
        DWORD offset;
        memcpy(&offset, (const BYTE*)sd + 16, 4);
        acl = offset ? (const ACL*)((const BYTE*)sd + offset) : nullptr;
    } else {
        acl = d->Dacl;
    }
    *isProtected = (d->Control & SE_DACL_PROTECTED) != 0;
    return ParseAcl(acl, aces);
}

void Inherit(const FileEntry& parent, FileEntry& child, const std::string& owner) {
    child.dacl.clear();
    child.daclProtected = false;
    child.secured = true;
    child.owner = owner;
    for (const Ace& a : parent.dacl) {
        bool forChild = child.dir ? (a.flags & CONTAINER_INHERIT_ACE) : (a.flags & OBJECT_INHERIT_ACE);
        bool onward = child.dir && !(a.flags & NO_PROPAGATE_INHERIT_ACE) && (a.flags & OBJECT_INHERIT_ACE);
        if (!forChild && !onward) continue;
        bool creator = a.sid == sim::kSidCreatorOwner;
        if (forChild) {
            Ace effective = a;
            effective.sid = creator ? owner : a.sid;
            effective.mask = MapGeneric(a.mask);
            effective.flags = INHERITED_ACE;
            // A directory passes it on as it came, unless that was the last step.
            if (child.dir && !creator && !(a.flags & NO_PROPAGATE_INHERIT_ACE))
                effective.flags |= a.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
            child.dacl.push_back(effective);
        }
        if (child.dir && !(a.flags & NO_PROPAGATE_INHERIT_ACE) && (creator || !forChild)) {
            Ace later = a;
            later.flags = (BYTE)((a.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) | INHERIT_ONLY_ACE | INHERITED_ACE);
            child.dacl.push_back(later);
        }
    }
}

std::vector<Ace> StandardDacl(bool usersMayAdd) {
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    std::vector<Ace> dacl = {{sim::kSidAdministrators, FILE_ALL_ACCESS, inherit, false},
                             {sim::kSidSystem, FILE_ALL_ACCESS, inherit, false},
                             {sim::kSidUsers, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, inherit, false}};
    if (usersMayAdd) {
        dacl.push_back({sim::kSidUsers, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                        CONTAINER_INHERIT_ACE, false});
        dacl.push_back({sim::kSidCreatorOwner, FILE_ALL_ACCESS, inherit | INHERIT_ONLY_ACE, false});
    }
    return dacl;
}

std::string ParentOf(const std::string& key) {
    size_t cut = sim::LastGbkSeparator(key);
    if (cut == std::string::npos || key.size() <= 3) return std::string();
    return cut == 2 ? key.substr(0, 3) : key.substr(0, cut);
}

}  // namespace

namespace sim {

void Machine::InheritSecurity(FileEntry& child, const std::string& key) {
    auto parent = files.find(ParentOf(key));
    if (parent == files.end() || !parent->second.secured) return;
    Inherit(parent->second, child, ownerSid);
}

void Machine::UseStandardSecurity() {
    AddDir(windowsDir + "\\Temp");
    std::vector<std::string> roots = {"C:\\", windowsDir, SystemDir(), Wow64Dir(), "C:\\Program Files",
                                      "C:\\Program Files (x86)", windowsDir + "\\Temp"};
    for (const std::string& root : roots) {
        FileEntry* e = Entry(root);
        if (!e) continue;
        e->secured = true;
        e->owner = kSidSystem;
        e->dacl = StandardDacl(root == windowsDir + "\\Temp");
        e->daclProtected = root != "C:\\";
    }
    // What is already there inherits, parents first (a map keeps them so).
    for (auto& kv : files) {
        if (kv.second.secured) continue;
        InheritSecurity(kv.second, kv.first);
    }
}

Token Machine::StandardUser(const std::string& sid, DWORD integrity) {
    Token t;
    t.user = sid;
    t.groups = {kSidUsers, kSidAuthenticatedUsers, kSidEveryone};
    t.integrity = integrity;
    return t;
}

DWORD Machine::GrantedRights(const Token& token, const std::string& path) const {
    const FileEntry* e = Entry(path);
    if (!e) return 0;
    if (!e->secured) return FILE_ALL_ACCESS;
    DWORD granted = 0, denied = 0;
    for (const Ace& a : e->dacl) {
        if (a.flags & INHERIT_ONLY_ACE) continue;
        if (a.sid != token.user && !token.groups.count(a.sid)) continue;
        DWORD mask = MapGeneric(a.mask) & kFileRightsMask;
        if (a.deny)
            denied |= mask & ~granted;
        else
            granted |= mask & ~denied;
    }
    if (!e->owner.empty() && (e->owner == token.user || token.groups.count(e->owner)))
        granted |= READ_CONTROL | WRITE_DAC;
    DWORD label = e->label ? e->label : (DWORD)kIntegrityMedium;
    if (token.integrity < label) granted &= ~kWriteUp;
    return granted;
}

bool Machine::MayDelete(const Token& token, const std::string& path) const {
    if (GrantedRights(token, path) & DELETE) return true;
    std::string display;
    std::string parent = ParentOf(Resolve(path, &display));
    size_t cut = LastGbkSeparator(display);
    return !parent.empty() && cut != std::string::npos &&
           (GrantedRights(token, display.substr(0, cut == 2 ? 3 : cut)) & FILE_DELETE_CHILD);
}

}  // namespace sim

// ---- the process token --------------------------------------------------------

HANDLE GetCurrentProcess(void) { return kProcessPseudoHandle; }

BOOL OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
    if (process != kProcessPseudoHandle || !token) return Fail(ERROR_INVALID_HANDLE);
    if (Current().Fault("OpenProcessToken")) return Fail(ERROR_ACCESS_DENIED);
    *token = kTokenHandle;
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID info, DWORD cbInfo, LPDWORD cbNeeded) {
    Machine& m = Current();
    if (token != kTokenHandle || cls != TokenUser || !cbNeeded) return Fail(ERROR_INVALID_PARAMETER);
    sim::Bytes sid = SidBytes(m.userSid);
    DWORD need = (DWORD)(sizeof(TOKEN_USER) + sid.size());
    *cbNeeded = need;
    if (!info || cbInfo < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
    TOKEN_USER* user = (TOKEN_USER*)info;
    memcpy((BYTE*)info + sizeof(TOKEN_USER), sid.data(), sid.size());
    user->User.Sid = (BYTE*)info + sizeof(TOKEN_USER);
    user->User.Attributes = 0;
    return TRUE;
}

BOOL GetUserNameA(LPSTR buffer, LPDWORD size) {
    Machine& m = Current();
    if (!size) return Fail(ERROR_INVALID_PARAMETER);
    if (m.Fault("GetUserNameA")) return Fail(ERROR_ACCESS_DENIED);
    DWORD need = (DWORD)m.userName.size() + 1;
    if (!buffer || *size < need) {
        *size = need;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, m.userName.c_str(), need);
    *size = need;
    return TRUE;
}

// An account "DOMAIN\\user" (or a bare user name, in any domain) the machine knows.
BOOL LookupAccountNameA(LPCSTR system, LPCSTR account, PSID sid, LPDWORD cbSid, LPSTR domain, LPDWORD cchDomain,
                        PSID_NAME_USE use) {
    Machine& m = Current();
    if (system || !account || !cbSid || !cchDomain || !use) return Fail(ERROR_INVALID_PARAMETER);
    if (m.Fault("LookupAccountNameA")) return Fail(ERROR_NONE_MAPPED);
    std::string wanted = sim::FoldGbk(account, true);
    for (const auto& kv : m.accounts) {
        std::string name = sim::FoldGbk(kv.first, true);
        size_t cut = name.find('\\');
        if (name != wanted && (wanted.find('\\') != std::string::npos || name.substr(cut + 1) != wanted)) continue;
        sim::Bytes bytes = SidBytes(kv.second);
        std::string dom = kv.first.substr(0, kv.first.find('\\'));
        if (*cbSid < bytes.size() || *cchDomain < dom.size() + 1) {
            *cbSid = (DWORD)bytes.size();
            *cchDomain = (DWORD)dom.size() + 1;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        memcpy(sid, bytes.data(), bytes.size());
        *cbSid = (DWORD)bytes.size();
        if (domain) memcpy(domain, dom.c_str(), dom.size() + 1);
        *cchDomain = (DWORD)dom.size();
        *use = SidTypeUser;
        return TRUE;
    }
    return Fail(ERROR_NONE_MAPPED);
}

// ---- terminal sessions (kernel32 and wtsapi32, handed out by GetProcAddress) ----

DWORD WINAPI sim::SimConsoleSession(void) { return Current().consoleSession; }

BOOL WINAPI sim::SimProcessIdToSessionId(DWORD pid, DWORD* session) {
    Machine& m = Current();
    if (!session || pid != m.processId) return Fail(ERROR_INVALID_PARAMETER);
    *session = m.processSession;
    return TRUE;
}

// The user or domain name of a session as a string the caller frees with
// WTSFreeMemory; an empty one for a session nobody is logged on to.
BOOL WINAPI sim::SimWtsQuerySessionInformationA(HANDLE server, DWORD session, int cls, LPSTR* out, DWORD* cbOut) {
    Machine& m = Current();
    if (server || !out || !cbOut || (cls != 5 && cls != 7)) return Fail(ERROR_INVALID_PARAMETER);
    if (m.Fault("WTSQuerySessionInformationA")) return Fail(ERROR_ACCESS_DENIED);
    if (session == 0xFFFFFFFFu) session = m.processSession;
    auto it = m.sessionUsers.find(session);
    if (it == m.sessionUsers.end() && session != m.processSession && session != m.consoleSession)
        return Fail(ERROR_FILE_NOT_FOUND);
    std::string text = it == m.sessionUsers.end() ? std::string() : cls == 5 ? it->second.second : it->second.first;
    char* copy = (char*)malloc(text.size() + 1);
    memcpy(copy, text.c_str(), text.size() + 1);
    m.liveAllocations++;
    *out = copy;
    *cbOut = (DWORD)text.size() + 1;
    return TRUE;
}

void WINAPI sim::SimWtsFreeMemory(PVOID memory) {
    if (!memory) return;
    Current().liveAllocations--;
    free(memory);
}

// ---- SIDs -------------------------------------------------------------------

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD a0, DWORD a1, DWORD a2,
                              DWORD a3, DWORD a4, DWORD a5, DWORD a6, DWORD a7, PSID* sid) {
    Machine& m = Current();
    if (!authority || !sid || count > 8) return Fail(ERROR_INVALID_PARAMETER);
    if (m.Fault("AllocateAndInitializeSid")) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    DWORD sub[8] = {a0, a1, a2, a3, a4, a5, a6, a7};
    BYTE* p = (BYTE*)calloc(1, 8 + 4 * count);
    if (!p) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    m.liveAllocations++;
    p[0] = 1;
    p[1] = count;
    memcpy(p + 2, authority->Value, 6);
    for (BYTE i = 0; i < count; i++) memcpy(p + 8 + 4 * i, &sub[i], 4);
    *sid = p;
    return TRUE;
}

PVOID FreeSid(PSID sid) {
    if (sid) {
        free(sid);
        Current().liveAllocations--;
    }
    return nullptr;
}

BOOL IsValidSid(PSID sid) { return !SidText(sid).empty(); }
DWORD GetLengthSid(PSID sid) { return SidLength(sid); }
BOOL EqualSid(PSID a, PSID b) { return IsValidSid(a) && SidText(a) == SidText(b); }

BOOL CopySid(DWORD cbDest, PSID dest, PSID source) {
    DWORD n = SidLength(source);
    if (!IsValidSid(source)) return Fail(ERROR_INVALID_PARAMETER);
    if (cbDest < n) return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(dest, source, n);
    return TRUE;
}

// ---- ACLs -------------------------------------------------------------------

BOOL InitializeAcl(PACL acl, DWORD cbAcl, DWORD revision) {
    if (!acl || cbAcl < sizeof(ACL) || cbAcl > 0xFFFF || revision != ACL_REVISION) return Fail(ERROR_INVALID_PARAMETER);
    memset(acl, 0, sizeof(ACL));
    acl->AclRevision = (BYTE)revision;
    acl->AclSize = (WORD)cbAcl;
    return TRUE;
}

// Appends (any start index is taken as "at the end", as the product uses it).
BOOL AddAce(PACL acl, DWORD, DWORD, LPVOID aces, DWORD cbAces) {
    if (!acl || !aces) return Fail(ERROR_INVALID_PARAMETER);
    BYTE* base = (BYTE*)acl;
    size_t used = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; i++) used += ((const ACE_HEADER*)(base + used))->AceSize;
    if (used + cbAces > acl->AclSize) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    size_t at = 0;
    WORD added = 0;
    while (at + sizeof(ACE_HEADER) <= cbAces) {
        WORD size = ((const ACE_HEADER*)((const BYTE*)aces + at))->AceSize;
        if (size < sizeof(ACE_HEADER) || at + size > cbAces) return Fail(ERROR_INVALID_PARAMETER);
        at += size;
        added++;
    }
    memcpy(base + used, aces, cbAces);
    acl->AceCount = (WORD)(acl->AceCount + added);
    return TRUE;
}

BOOL GetAce(PACL acl, DWORD index, LPVOID* ace) {
    if (!acl || !ace || index >= acl->AceCount) return Fail(ERROR_INVALID_PARAMETER);
    BYTE* at = (BYTE*)acl + sizeof(ACL);
    for (DWORD i = 0; i < index; i++) at += ((const ACE_HEADER*)at)->AceSize;
    *ace = at;
    return TRUE;
}

// ---- security descriptors ---------------------------------------------------

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) {
    if (!sd || revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_INVALID_PARAMETER);
    memset(sd, 0, sizeof(SECURITY_DESCRIPTOR));
    ((SECURITY_DESCRIPTOR*)sd)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl, BOOL) {
    SECURITY_DESCRIPTOR* d = (SECURITY_DESCRIPTOR*)sd;
    if (!d || (d->Control & SE_SELF_RELATIVE)) return Fail(ERROR_INVALID_PARAMETER);
    d->Dacl = present ? dacl : nullptr;
    d->Control = (SECURITY_DESCRIPTOR_CONTROL)(present ? d->Control | SE_DACL_PRESENT : d->Control & ~SE_DACL_PRESENT);
    return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL present, PACL* dacl, LPBOOL defaulted) {
    const SECURITY_DESCRIPTOR* d = (const SECURITY_DESCRIPTOR*)sd;
    if (!d || !present || !dacl) return Fail(ERROR_INVALID_PARAMETER);
    *present = (d->Control & SE_DACL_PRESENT) != 0;
    if (defaulted) *defaulted = FALSE;
    *dacl = nullptr;
    if (!*present) return TRUE;
    if (d->Control & SE_SELF_RELATIVE) {
        DWORD offset;
        memcpy(&offset, (const BYTE*)sd + 16, 4);
        *dacl = offset ? (PACL)((BYTE*)sd + offset) : nullptr;
    } else {
        *dacl = d->Dacl;
    }
    return TRUE;
}

BOOL WINAPI SimSetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL mask,
                                            SECURITY_DESCRIPTOR_CONTROL bits) {
    SECURITY_DESCRIPTOR* d = (SECURITY_DESCRIPTOR*)sd;
    if (!d || (mask & ~SE_DACL_PROTECTED)) return Fail(ERROR_INVALID_PARAMETER);
    d->Control = (SECURITY_DESCRIPTOR_CONTROL)((d->Control & ~mask) | (bits & mask));
    return TRUE;
}

// The file entry behind a handle of the simulated kernel32.
FileEntry* sim::HandleEntry(HANDLE handle, std::string* key);

BOOL GetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd, DWORD cb,
                             LPDWORD cbNeeded) {
    Machine& m = Current();
    if (sim::IsMutexHandle(object)) {
        if (!cbNeeded || info != OWNER_SECURITY_INFORMATION) return Fail(ERROR_INVALID_PARAMETER);
        if (m.Fault("GetKernelObjectSecurity")) return Fail(ERROR_ACCESS_DENIED);
        sim::Bytes owner = sim::OwnerDescriptor(m.mutexes[m.mutexHandles[object].first].owner);
        *cbNeeded = (DWORD)owner.size();
        if (!sd || cb < owner.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
        memcpy(sd, owner.data(), owner.size());
        return TRUE;
    }
    std::string key;
    FileEntry* e = sim::HandleEntry(object, &key);
    if (!e || !cbNeeded || info != DACL_SECURITY_INFORMATION) return Fail(ERROR_INVALID_PARAMETER);
    if (m.Fault("GetKernelObjectSecurity")) return Fail(ERROR_ACCESS_DENIED);
    // Self-relative: Revision, Sbz1, Control, then the offsets of owner,
    // group, SACL and DACL; the DACL follows.
    sim::Bytes acl = BuildAcl(e->dacl);
    DWORD need = (DWORD)(20 + acl.size());
    *cbNeeded = need;
    if (!sd || cb < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
    BYTE* p = (BYTE*)sd;
    memset(p, 0, 20);
    p[0] = SECURITY_DESCRIPTOR_REVISION;
    WORD control = SE_SELF_RELATIVE | SE_DACL_PRESENT | (e->daclProtected ? SE_DACL_PROTECTED : 0);
    memcpy(p + 2, &control, 2);
    DWORD offset = 20;
    memcpy(p + 16, &offset, 4);
    memcpy(p + 20, acl.data(), acl.size());
    return TRUE;
}

BOOL SetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd) {
    Machine& m = Current();
    std::string key;
    FileEntry* e = sim::HandleEntry(object, &key);
    if (!e || !(info & DACL_SECURITY_INFORMATION)) return Fail(ERROR_INVALID_PARAMETER);
    if (m.Fault("SetKernelObjectSecurity") || m.securityFails) return Fail(ERROR_ACCESS_DENIED);
    std::vector<Ace> aces;
    bool isProtected = false;
    if (!DaclOf(sd, &aces, &isProtected)) return Fail(ERROR_INVALID_SECURITY_DESCR);
    e->secured = true;
    e->dacl = aces;
    e->daclProtected = isProtected || (info & PROTECTED_DACL_SECURITY_INFORMATION);
    if (e->owner.empty()) e->owner = m.ownerSid;
    m.SyncNames(key);
    return TRUE;
}

// A directory created with a security descriptor keeps its DACL as given.
bool sim::ApplyCreationSecurity(FileEntry& e, LPSECURITY_ATTRIBUTES sa) {
    if (!sa || !sa->lpSecurityDescriptor) return true;
    std::vector<Ace> aces;
    bool isProtected = false;
    if (!DaclOf(sa->lpSecurityDescriptor, &aces, &isProtected)) return false;
    e.secured = true;
    e.dacl = aces;
    e.daclProtected = isProtected;
    e.owner = Current().ownerSid;
    return true;
}

// ---- owners, and the objects named mutexes get ---------------------------------

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID owner, BOOL) {
    SECURITY_DESCRIPTOR* d = (SECURITY_DESCRIPTOR*)sd;
    if (!d || (d->Control & SE_SELF_RELATIVE) || (owner && !IsValidSid(owner))) return Fail(ERROR_INVALID_PARAMETER);
    d->Owner = owner;
    return TRUE;
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID* owner, LPBOOL defaulted) {
    const SECURITY_DESCRIPTOR* d = (const SECURITY_DESCRIPTOR*)sd;
    if (!d || !owner) return Fail(ERROR_INVALID_PARAMETER);
    if (defaulted) *defaulted = FALSE;
    if (d->Control & SE_SELF_RELATIVE) {
        DWORD offset;
        memcpy(&offset, (const BYTE*)sd + 4, 4);
        *owner = offset ? (PSID)((BYTE*)sd + offset) : nullptr;
    } else {
        *owner = d->Owner;
    }
    return TRUE;
}

sim::Token Machine::ProcessToken() const {
    Token token;
    token.user = userSid;
    token.groups = {ownerSid, sim::kSidEveryone, sim::kSidAuthenticatedUsers, sim::kSidUsers};
    if (ownerSid == sim::kSidAdministrators || userSid == sim::kSidSystem) token.groups.insert(sim::kSidAdministrators);
    return token;
}

bool sim::CreationSecurity(LPSECURITY_ATTRIBUTES sa, std::string* owner, bool* secured, std::vector<Ace>* dacl) {
    Machine& m = Current();
    *owner = m.ownerSid;
    *secured = false;
    dacl->clear();
    if (!sa || !sa->lpSecurityDescriptor) return true;
    const SECURITY_DESCRIPTOR* d = (const SECURITY_DESCRIPTOR*)sa->lpSecurityDescriptor;
    if (d->Revision != SECURITY_DESCRIPTOR_REVISION || (d->Control & SE_SELF_RELATIVE)) return false;
    if (d->Owner) *owner = SidText(d->Owner);
    bool isProtected = false;
    if (d->Control & SE_DACL_PRESENT) {
        if (d->Dacl && !DaclOf(sa->lpSecurityDescriptor, dacl, &isProtected)) return false;
        *secured = d->Dacl != nullptr;
    }
    return !owner->empty();
}

sim::Bytes sim::OwnerDescriptor(const std::string& owner) {
    sim::Bytes sid = SidBytes(owner);
    sim::Bytes out(20, 0);
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    WORD control = SE_SELF_RELATIVE;
    memcpy(&out[2], &control, 2);
    DWORD offset = 20;
    memcpy(&out[4], &offset, 4);
    out.insert(out.end(), sid.begin(), sid.end());
    return out;
}
