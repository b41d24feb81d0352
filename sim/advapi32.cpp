// Security part of the simulated advapi32: the account name and file DACLs.
// A file object's DACL is the list of its entries in `Machine::grants`;
// security descriptors and new ACLs are heap blocks the caller releases with
// LocalFree, counted in `liveAllocations` so tests see leaks.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "sim/machine.h"

using sim::AclGrant;
using sim::Current;
using sim::Machine;

namespace {

const DWORD kAclMagic = 0x4C434153;  // "SACL"

struct SimAce {
    char trustee[256];
    DWORD permissions;
    DWORD inheritance;
    ACCESS_MODE mode;
};

// One block: header, then `count` entries.  A security descriptor holds its
// DACL the same way, so the DACL pointer handed out points inside it.
struct SimAcl {
    DWORD magic;
    DWORD count;
    SimAce aces[1];
};

SimAcl* NewAcl(const std::vector<SimAce>& aces) {
    size_t bytes = sizeof(SimAcl) + (aces.empty() ? 0 : aces.size() - 1) * sizeof(SimAce);
    SimAcl* acl = (SimAcl*)calloc(1, bytes);
    if (!acl) return nullptr;
    Current().liveAllocations++;
    acl->magic = kAclMagic;
    acl->count = (DWORD)aces.size();
    for (size_t i = 0; i < aces.size(); i++) acl->aces[i] = aces[i];
    return acl;
}

std::vector<SimAce> Entries(PACL p) {
    std::vector<SimAce> out;
    const SimAcl* acl = (const SimAcl*)p;
    if (acl && acl->magic == kAclMagic)
        for (DWORD i = 0; i < acl->count; i++) out.push_back(acl->aces[i]);
    return out;
}

// The folded path naming a file object; "" when it does not exist.
std::string ObjectKey(Machine& m, LPCSTR name, std::string* display) {
    if (!name) return std::string();
    std::string key = m.Resolve(name, display);
    if (key.empty() || m.files.find(key) == m.files.end()) return std::string();
    return key;
}

bool SameTrustee(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

}  // namespace

BOOL GetUserNameA(LPSTR buffer, LPDWORD size) {
    Machine& m = Current();
    if (!size) return m.lastError = ERROR_INVALID_PARAMETER, FALSE;
    if (m.Fault("GetUserNameA")) return m.lastError = ERROR_ACCESS_DENIED, FALSE;
    DWORD need = (DWORD)m.userName.size() + 1;
    if (!buffer || *size < need) {
        *size = need;
        return m.lastError = ERROR_INSUFFICIENT_BUFFER, FALSE;
    }
    memcpy(buffer, m.userName.c_str(), need);
    *size = need;
    return TRUE;
}

DWORD GetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                            PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* sd) {
    Machine& m = Current();
    if (type != SE_FILE_OBJECT || !sd) return ERROR_INVALID_PARAMETER;
    if (m.Fault("GetNamedSecurityInfoA")) return ERROR_ACCESS_DENIED;
    std::string display;
    std::string key = ObjectKey(m, name, &display);
    if (key.empty()) return ERROR_FILE_NOT_FOUND;
    std::vector<SimAce> aces;
    for (const AclGrant& g : m.grants) {
        if (m.Resolve(g.object) != key) continue;
        SimAce a;
        memset(&a, 0, sizeof(a));
        snprintf(a.trustee, sizeof(a.trustee), "%s", g.trustee.c_str());
        a.permissions = g.permissions;
        a.inheritance = g.inheritance;
        a.mode = g.mode;
        aces.push_back(a);
    }
    SimAcl* acl = NewAcl(aces);
    if (!acl) return ERROR_NOT_ENOUGH_MEMORY;
    if (owner) *owner = nullptr;
    if (group) *group = nullptr;
    if (sacl) *sacl = nullptr;
    if (dacl) *dacl = (info & DACL_SECURITY_INFORMATION) ? (PACL)acl : nullptr;
    *sd = acl;
    return ERROR_SUCCESS;
}

void BuildExplicitAccessWithNameA(PEXPLICIT_ACCESS_A ea, LPSTR trustee, DWORD permissions, ACCESS_MODE mode,
                                  DWORD inheritance) {
    ea->grfAccessPermissions = permissions;
    ea->grfAccessMode = mode;
    ea->grfInheritance = inheritance;
    ea->Trustee.pMultipleTrustee = nullptr;
    ea->Trustee.MultipleTrusteeOperation = 0;
    ea->Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    ea->Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    ea->Trustee.ptstrName = trustee;
}

DWORD SetEntriesInAclA(ULONG count, PEXPLICIT_ACCESS_A entries, PACL oldAcl, PACL* newAcl) {
    Machine& m = Current();
    if (!newAcl || (count && !entries)) return ERROR_INVALID_PARAMETER;
    *newAcl = nullptr;
    if (m.Fault("SetEntriesInAclA")) return ERROR_NOT_ENOUGH_MEMORY;
    std::vector<SimAce> aces = Entries(oldAcl);
    for (ULONG i = 0; i < count; i++) {
        const EXPLICIT_ACCESS_A& e = entries[i];
        const char* who = e.Trustee.ptstrName ? e.Trustee.ptstrName : "";
        if (e.grfAccessMode == SET_ACCESS || e.grfAccessMode == REVOKE_ACCESS) {
            for (size_t k = aces.size(); k-- > 0;)
                if (SameTrustee(aces[k].trustee, who)) aces.erase(aces.begin() + k);
            if (e.grfAccessMode == REVOKE_ACCESS) continue;
        }
        // A grant adds its rights to the trustee's entry of the same inheritance.
        bool merged = false;
        if (e.grfAccessMode == GRANT_ACCESS) {
            for (SimAce& a : aces) {
                if (a.mode == GRANT_ACCESS && a.inheritance == e.grfInheritance && SameTrustee(a.trustee, who)) {
                    a.permissions |= e.grfAccessPermissions;
                    merged = true;
                }
            }
        }
        if (merged) continue;
        SimAce a;
        memset(&a, 0, sizeof(a));
        snprintf(a.trustee, sizeof(a.trustee), "%s", who);
        a.permissions = e.grfAccessPermissions;
        a.inheritance = e.grfInheritance;
        a.mode = e.grfAccessMode == SET_ACCESS ? GRANT_ACCESS : e.grfAccessMode;
        aces.push_back(a);
    }
    SimAcl* acl = NewAcl(aces);
    if (!acl) return ERROR_NOT_ENOUGH_MEMORY;
    *newAcl = (PACL)acl;
    return ERROR_SUCCESS;
}

// Owner, group and SACL are not simulated: only the DACL is kept.
DWORD SetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID, PSID, PACL dacl,
                            PACL) {
    Machine& m = Current();
    if (type != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
    if (m.Fault("SetNamedSecurityInfoA")) return ERROR_ACCESS_DENIED;
    if (m.securityFails) return ERROR_ACCESS_DENIED;
    std::string display;
    std::string key = ObjectKey(m, name, &display);
    if (key.empty()) return ERROR_FILE_NOT_FOUND;
    if (!(info & DACL_SECURITY_INFORMATION)) return ERROR_SUCCESS;
    const SimAcl* acl = (const SimAcl*)dacl;
    if (acl && acl->magic != kAclMagic) return ERROR_INVALID_PARAMETER;
    for (size_t k = m.grants.size(); k-- > 0;)
        if (m.Resolve(m.grants[k].object) == key) m.grants.erase(m.grants.begin() + k);
    for (const SimAce& a : Entries(dacl)) {
        AclGrant g;
        g.object = display;
        g.trustee = a.trustee;
        g.permissions = a.permissions;
        g.inheritance = a.inheritance;
        g.mode = a.mode;
        m.grants.push_back(g);
    }
    return ERROR_SUCCESS;
}
