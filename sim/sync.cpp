// Named mutexes of the simulated machine: created or opened by name under
// the access list of the one that made them, held by one process at a time,
// abandoned when their holder ends.
#include <iterator>

#include "sim/machine.h"

using sim::Current;
using sim::Machine;

namespace {

const intptr_t kMutexHandles = 0x9000;

HANDLE Fail(DWORD code) {
    Current().lastError = code;
    return nullptr;
}

// The access `token` has to a mutex: its access list, or everything without one.
DWORD MutexRights(const Machine::Mutex& mutex, const sim::Token& token) {
    if (!mutex.secured) return MUTEX_ALL_ACCESS;
    DWORD allowed = 0, denied = 0;
    for (const sim::Ace& a : mutex.dacl) {
        if (a.sid != token.user && !token.groups.count(a.sid)) continue;
        DWORD mask = (a.mask & GENERIC_ALL) ? MUTEX_ALL_ACCESS : a.mask;
        (a.deny ? denied : allowed) |= mask;
    }
    return allowed & ~denied;
}

}  // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCSTR name) {
    Machine& m = Current();
    if (!name || !*name) return Fail(ERROR_INVALID_PARAMETER);  // unnamed ones the product never makes
    if (m.Fault("CreateMutexA")) return Fail(ERROR_NO_SYSTEM_RESOURCES);
    std::string key = name;
    if (key.compare(0, 7, "Global\\") == 0) {
        if (m.majorVersion < 5) return Fail(ERROR_PATH_NOT_FOUND);
        key = key.substr(7);
    }
    if (key.find('\\') != std::string::npos) return Fail(ERROR_PATH_NOT_FOUND);
    sim::Token token = m.ProcessToken();
    auto found = m.mutexes.find(key);
    bool exists = found != m.mutexes.end();
    if (exists) {
        if ((MutexRights(found->second, token) & MUTEX_ALL_ACCESS) != MUTEX_ALL_ACCESS) return Fail(ERROR_ACCESS_DENIED);
    } else {
        Machine::Mutex made;
        if (!sim::CreationSecurity(sa, &made.owner, &made.secured, &made.dacl)) return Fail(ERROR_INVALID_SECURITY_DESCR);
        if (made.owner != token.user && made.owner != m.ownerSid && !token.groups.count(made.owner))
            return Fail(ERROR_INVALID_OWNER);
        m.mutexes[key] = made;
    }
    HANDLE h = (HANDLE)(kMutexHandles + ++m.mutexHandleIds);
    m.mutexHandles[h] = {key, m.processId};
    if (initialOwner && !exists) m.mutexes[key].holder = m.processId;
    m.lastError = exists ? ERROR_ALREADY_EXISTS : 0;
    return h;
}

BOOL ReleaseMutex(HANDLE mutex) {
    Machine& m = Current();
    if (!sim::IsMutexHandle(mutex)) return Fail(ERROR_INVALID_HANDLE), FALSE;
    Machine::Mutex& held = m.mutexes[m.mutexHandles[mutex].first];
    if (held.holder != m.processId) return Fail(ERROR_NOT_OWNER), FALSE;
    held.holder = 0;
    return TRUE;
}

bool sim::IsMutexHandle(HANDLE handle) { return Current().mutexHandles.count(handle) != 0; }

DWORD sim::WaitMutex(HANDLE handle) {
    Machine& m = Current();
    Machine::Mutex& mutex = m.mutexes[m.mutexHandles[handle].first];
    if (mutex.holder != 0 && mutex.holder != m.processId) return WAIT_TIMEOUT;
    mutex.holder = m.processId;
    bool abandoned = mutex.abandoned;
    mutex.abandoned = false;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

// The object goes with its last handle.
static void DropUnreferenced(Machine& m) {
    for (auto it = m.mutexes.begin(); it != m.mutexes.end();) {
        bool referenced = false;
        for (const auto& h : m.mutexHandles) referenced = referenced || h.second.first == it->first;
        it = referenced ? std::next(it) : m.mutexes.erase(it);
    }
}

bool sim::CloseMutex(HANDLE handle) {
    Machine& m = Current();
    if (!m.mutexHandles.erase(handle)) return false;
    DropUnreferenced(m);
    return true;
}

void sim::EndProcessMutexes(Machine& m) {
    for (auto& kv : m.mutexes)
        if (kv.second.holder == m.processId) {
            kv.second.holder = 0;
            kv.second.abandoned = true;
        }
    for (auto it = m.mutexHandles.begin(); it != m.mutexHandles.end();)
        it = it->second.second == m.processId ? m.mutexHandles.erase(it) : std::next(it);
    DropUnreferenced(m);
}
