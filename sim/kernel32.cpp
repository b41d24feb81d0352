// kernel32 of the simulated machine: files, directories, version, resources,
// memory and processes, with the error codes Windows gives.
#include <stdlib.h>
#include <string.h>

#include <ctype.h>

#include <algorithm>
#include <map>

#include "platform/win32.h"
#include "sim/machine.h"
#include "tools/common/md5.h"

using sim::Current;
using sim::FileEntry;
using sim::Machine;

namespace {

struct OpenFile {
    Machine* machine = nullptr;  // whose file system the handle belongs to
    std::string key;
    size_t pos = 0;
    bool read = false, write = false;
    bool append = false;  // FILE_APPEND_DATA: every write goes to the end
    bool dir = false;
    bool used = false;
    DWORD rights = 0;  // what it may do, as FILE_SHARE_* bits (read, write, delete)
    DWORD share = 0;   // what it lets others do
};
std::vector<OpenFile> g_open;  // index + 1 is the HFILE; HANDLE is index + 0x1000

struct FindState {
    std::vector<std::string> names;
    std::vector<const FileEntry*> entries;
    size_t next = 0;
    bool used = false;
};
std::vector<FindState> g_finds;

// Default sharing: what _lcreat and compatibility-mode _lopen ask for.
int NewHandle(const std::string& key, bool read, bool write, bool dir,
              DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    OpenFile f;
    f.machine = &Current();
    f.key = key;
    f.read = read;
    f.write = write;
    f.dir = dir;
    f.used = true;
    f.rights = dir ? 0 : (read ? FILE_SHARE_READ : 0) | (write ? FILE_SHARE_WRITE : 0);
    f.share = share;
    for (size_t i = 0; i < g_open.size(); i++)
        if (!g_open[i].used) {
            g_open[i] = f;
            return (int)i + 1;
        }
    g_open.push_back(f);
    return (int)g_open.size();
}

OpenFile* Handle(int h) {
    if (h < 1 || (size_t)h > g_open.size() || !g_open[h - 1].used) return nullptr;
    return &g_open[h - 1];
}

int FromHandle(HANDLE h) { return (int)((intptr_t)h - 0x1000 + 1); }
HANDLE ToHandle(int h) { return (HANDLE)(intptr_t)(h - 1 + 0x1000); }

DWORD Fail(DWORD code) {
    Current().lastError = code;
    return code;
}

std::string ParentKey(const std::string& key) {
    size_t cut = sim::LastGbkSeparator(key);
    if (cut == std::string::npos) return std::string();
    if (cut == 2) return key.substr(0, 3);  // "C:\"
    return key.substr(0, cut);
}

bool IsRoot(const std::string& key) { return key.size() == 3 && key[1] == ':'; }

FileEntry* Find(const std::string& key) {
    auto it = Current().files.find(key);
    return it == Current().files.end() ? nullptr : &it->second;
}

// True when writes into `key` or any directory above it are refused.
bool WritesDenied(const std::string& key) {
    std::string k = key;
    while (!k.empty()) {
        FileEntry* e = Find(k);
        if (e && e->denyWrites) return true;
        if (IsRoot(k)) break;
        k = ParentKey(k);
    }
    return false;
}

// Resolves `path` for an operation: sets the error for a bad path or a
// missing parent and returns "" then.
std::string Target(LPCSTR path, std::string* display = nullptr) {
    if (!path) {
        Fail(ERROR_INVALID_PARAMETER);
        return std::string();
    }
    if (!*path) {
        Fail(ERROR_PATH_NOT_FOUND);
        return std::string();
    }
    std::string key = Current().Resolve(path, display);
    if (key.empty()) {
        Fail(ERROR_INVALID_NAME);
        return std::string();
    }
    if (!IsRoot(key)) {
        FileEntry* parent = Find(ParentKey(key));
        if (!parent || !parent->dir) {
            Fail(ERROR_PATH_NOT_FOUND);
            return std::string();
        }
    }
    return key;
}

// The entry an open of `key` reaches: a symbolic link or junction is
// followed (one level is as deep as the product's paths go) unless the
// caller asks for the link itself.
std::string Followed(const std::string& key, bool linkItself = false) {
    FileEntry* e = Find(key);
    if (!e || linkItself || e->reparseTarget.empty()) return key;
    return e->reparseTarget;
}

bool OpenForRead(FileEntry* e) {
    if (e->noAccess) return Fail(ERROR_ACCESS_DENIED), false;
    if (e->locked) return Fail(ERROR_SHARING_VIOLATION), false;
    return true;
}

bool CanReplace(FileEntry* e, const std::string& key) {
    if (e->dir) return Fail(ERROR_ACCESS_DENIED), false;
    if (e->locked || e->loaded) return Fail(ERROR_SHARING_VIOLATION), false;
    if ((e->attributes & FILE_ATTRIBUTE_READONLY) || e->noAccess) return Fail(ERROR_ACCESS_DENIED), false;
    if (WritesDenied(key)) return Fail(ERROR_ACCESS_DENIED), false;
    return true;
}

FileEntry& CreateEntry(const std::string& key, const std::string& display, bool dir = false) {
    FileEntry& e = Current().files[key];
    e = FileEntry();
    e.path = display;
    e.dir = dir;
    Current().InheritSecurity(e, key);
    return e;
}

const DWORD kDeleteAccess = 0x00010000;  // DELETE
const DWORD kReadData = 0x0001, kWriteData = 0x0002;  // FILE_READ_DATA, FILE_WRITE_DATA
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What an access mask lets a handle do, as the FILE_SHARE_* bits that must
// allow it.
DWORD Rights(DWORD access) {
    DWORD rights = 0;
    if (access & (GENERIC_READ | GENERIC_ALL | kReadData)) rights |= FILE_SHARE_READ;
    if (access & (GENERIC_WRITE | GENERIC_ALL | kWriteData | FILE_APPEND_DATA)) rights |= FILE_SHARE_WRITE;
    if (access & (GENERIC_ALL | kDeleteAccess)) rights |= FILE_SHARE_DELETE;
    return rights;
}

// Windows' sharing rule among the handles open on one file, in any process:
// an open fails with ERROR_SHARING_VIOLATION when its share mode refuses
// what an open handle may do, or an open handle's share mode refuses what
// it asks.  Opens that read, write and delete nothing (attributes only) take
// no part.  Renames and deletes ask for delete access.
bool ShareAllows(const std::string& key, DWORD rights, DWORD share) {
    if (!rights) return true;
    Machine& m = Current();
    auto clash = [&](DWORD heldRights, DWORD heldShare) {
        return heldRights != 0 && ((rights & ~heldShare) != 0 || (heldRights & ~share) != 0);
    };
    for (const OpenFile& f : g_open)
        if (f.used && f.machine == &m && f.key == key && clash(f.rights, f.share))
            return Fail(ERROR_SHARING_VIOLATION), false;
    for (const auto& kv : m.otherOpens)
        if (kv.second.key == key && clash(Rights(kv.second.access), kv.second.share))
            return Fail(ERROR_SHARING_VIOLATION), false;
    return true;
}

}  // namespace

int Machine::OpenAsOtherProgram(const std::string& path, DWORD access, DWORD share) {
    Machine* was = &Current();
    sim::Use(this);
    int id = 0;
    std::string key = Target(path.c_str());
    FileEntry* e = key.empty() ? nullptr : Find(key);
    if (!key.empty() && !e) Fail(ERROR_FILE_NOT_FOUND);
    if (e && !e->dir && OpenForRead(e) && ShareAllows(key, Rights(access), share)) {
        id = ++otherOpenIds;
        otherOpens[id] = sim::OtherOpen{key, access, share};
    }
    sim::Use(was);
    return id;
}

void Machine::CloseOtherOpen(int id) { otherOpens.erase(id); }

DWORD GetLastError(void) { return Current().lastError; }
void SetLastError(DWORD code) { Current().lastError = code; }

HFILE _lopen(LPCSTR path, int mode) {
    Machine& m = Current();
    std::string key = Target(path);
    if (key.empty()) return HFILE_ERROR;
    if (m.Fault("_lopen")) return Fail(ERROR_ACCESS_DENIED), HFILE_ERROR;
    key = Followed(key);
    FileEntry* e = Find(key);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND), HFILE_ERROR;
    if (e->dir) return Fail(ERROR_ACCESS_DENIED), HFILE_ERROR;
    if (!OpenForRead(e)) return HFILE_ERROR;
    int access = mode & 3;
    bool write = access == OF_WRITE || access == OF_READWRITE;
    if (write && !CanReplace(e, key)) return HFILE_ERROR;
    // Compatibility mode shares reading and writing, as Wine and ReactOS map it.
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    switch (mode & 0x70) {
        case OF_SHARE_EXCLUSIVE: share = 0; break;
        case OF_SHARE_DENY_WRITE: share = FILE_SHARE_READ; break;
        case OF_SHARE_DENY_READ: share = FILE_SHARE_WRITE; break;
        default: break;
    }
    bool read = access != OF_WRITE;
    if (!ShareAllows(key, (read ? FILE_SHARE_READ : 0) | (write ? FILE_SHARE_WRITE : 0), share)) return HFILE_ERROR;
    m.lastError = 0;
    return NewHandle(key, read, write, false, share);
}

HFILE _lcreat(LPCSTR path, int attributes) {
    Machine& m = Current();
    std::string display;
    std::string key = Target(path, &display);
    if (key.empty()) return HFILE_ERROR;
    if (m.Fault("_lcreat")) return Fail(ERROR_ACCESS_DENIED), HFILE_ERROR;
    key = Followed(key);
    FileEntry* e = Find(key);
    if (e) {
        if (!CanReplace(e, key)) return HFILE_ERROR;
        if (!ShareAllows(key, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)) return HFILE_ERROR;
        e->data.clear();
        e->cut = false;
    } else {
        if (WritesDenied(ParentKey(key))) return Fail(ERROR_ACCESS_DENIED), HFILE_ERROR;
        e = &CreateEntry(key, display);
    }
    e->attributes = (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) | FILE_ATTRIBUTE_ARCHIVE;
    m.SyncNames(key);
    m.lastError = 0;
    return NewHandle(key, true, true, false);
}

UINT _lread(HFILE file, LPVOID buffer, UINT bytes) {
    Machine& m = Current();
    OpenFile* f = Handle(file);
    if (!f || !f->read) return Fail(ERROR_INVALID_HANDLE), (UINT)HFILE_ERROR;
    FileEntry* e = Find(f->key);
    if (!e) return Fail(ERROR_INVALID_HANDLE), (UINT)HFILE_ERROR;
    if (e->unreadable || m.Fault("_lread")) return Fail(ERROR_ACCESS_DENIED), (UINT)HFILE_ERROR;
    size_t avail = f->pos < e->data.size() ? e->data.size() - f->pos : 0;
    size_t n = std::min<size_t>(avail, bytes);
    if (n) memcpy(buffer, e->data.data() + f->pos, n);
    f->pos += n;
    return (UINT)n;
}

UINT _lwrite(HFILE file, LPCSTR buffer, UINT bytes) {
    Machine& m = Current();
    OpenFile* f = Handle(file);
    if (!f || !f->write) return Fail(ERROR_INVALID_HANDLE), (UINT)HFILE_ERROR;
    FileEntry* e = Find(f->key);
    if (!e) return Fail(ERROR_INVALID_HANDLE), (UINT)HFILE_ERROR;
    if (bytes == 0) {
        // Windows' _hwrite: a zero-length write sets the end of the file at
        // the current position (truncates or extends it).
        if (m.Fault("_lwrite")) return e->cut = true, e->cutFrom = 0, e->cutTo = (size_t)-1, Fail(ERROR_DISK_FULL), (UINT)HFILE_ERROR;
        e->data.resize(f->pos);
        // Cut back to where the failed write began: whole again.
        if (e->cut && f->pos <= e->cutFrom) e->cut = false;
        m.SyncNames(f->key);
        return 0;
    }
    if (f->append) f->pos = e->data.size();
    UINT n = bytes;
    if (m.Fault("_lwrite")) {
        n = bytes / 2;  // a full disk: part of the data reaches it
        if (!e->cut) e->cutFrom = f->pos, e->cutTo = f->pos + bytes;
        e->cutFrom = std::min(e->cutFrom, f->pos);
        e->cutTo = std::max(e->cutTo, f->pos + bytes);
        e->cut = true;
        Fail(ERROR_DISK_FULL);
    } else if (e->cut && f->pos <= e->cutFrom && f->pos + n >= e->cutTo) {
        e->cut = false;  // the bytes that did not reach the disk are written now
    }
    if (f->pos == e->data.size()) {
        // Appending (the common case): no zero fill before the copy.
        e->data.insert(e->data.end(), (const unsigned char*)buffer, (const unsigned char*)buffer + n);
    } else {
        if (f->pos + n > e->data.size()) e->data.resize(f->pos + n);
        if (n) memcpy(e->data.data() + f->pos, buffer, n);
    }
    f->pos += n;
    m.SyncNames(f->key);
    return n;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
    OpenFile* f = Handle(file);
    if (!f) return Fail(ERROR_INVALID_HANDLE), (LONG)HFILE_ERROR;
    FileEntry* e = Find(f->key);
    if (!e) return Fail(ERROR_INVALID_HANDLE), (LONG)HFILE_ERROR;
    long long base = origin == FILE_BEGIN ? 0 : origin == FILE_CURRENT ? (long long)f->pos : (long long)e->data.size();
    long long pos = base + offset;
    if (pos < 0) return Fail(ERROR_INVALID_PARAMETER), (LONG)HFILE_ERROR;
    f->pos = (size_t)pos;
    return (LONG)pos;
}

HFILE _lclose(HFILE file) {
    OpenFile* f = Handle(file);
    if (!f) return Fail(ERROR_INVALID_HANDLE), HFILE_ERROR;
    f->used = false;
    return 0;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
    Machine& m = Current();
    std::string display;
    std::string key = Target(name, &display);
    if (key.empty()) return INVALID_HANDLE_VALUE;
    if (m.Fault("CreateFileA")) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
    // A name that is there, even a link to nothing, is not new.
    if (disposition == CREATE_NEW && Find(key)) return Fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
    key = Followed(key, (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0);
    FileEntry* e = Find(key);
    bool append = (access & FILE_APPEND_DATA) != 0 && (access & (GENERIC_WRITE | GENERIC_ALL)) == 0;
    bool wantWrite = append || (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    if (e && e->dir) {
        if (!(flags & FILE_FLAG_BACKUP_SEMANTICS)) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
        m.lastError = 0;
        return ToHandle(NewHandle(key, true, false, true));
    }
    if (!e) {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        if (WritesDenied(ParentKey(key))) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        e = &CreateEntry(key, display);
        m.lastError = 0;
        int h = NewHandle(key, (access & GENERIC_READ) != 0, wantWrite, false, share);
        g_open[h - 1].append = append;
        g_open[h - 1].rights = Rights(access);
        return ToHandle(h);
    }
    if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
    if (!OpenForRead(e)) return INVALID_HANDLE_VALUE;
    if (wantWrite && !CanReplace(e, key)) return INVALID_HANDLE_VALUE;
    if (!ShareAllows(key, Rights(access), share)) return INVALID_HANDLE_VALUE;
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
        e->data.clear(), e->cut = false;
        m.SyncNames(key);
    }
    m.lastError = (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS : 0;
    int h = NewHandle(key, (access & (GENERIC_READ | GENERIC_ALL)) != 0, wantWrite, false, share);
    g_open[h - 1].append = append;
    g_open[h - 1].rights = Rights(access);
    return ToHandle(h);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void*) {
    UINT n = _lread(FromHandle(file), buffer, toRead);
    if (n == (UINT)HFILE_ERROR) {
        if (read) *read = 0;
        return FALSE;
    }
    if (read) *read = n;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void*) {
    UINT n = _lwrite(FromHandle(file), (LPCSTR)buffer, toWrite);
    if (n == (UINT)HFILE_ERROR) {
        if (written) *written = 0;
        return FALSE;
    }
    if (written) *written = n;
    return n == toWrite;
}

BOOL FlushFileBuffers(HANDLE file) {
    OpenFile* f = Handle(FromHandle(file));
    if (!f || !f->write) return Fail(ERROR_INVALID_HANDLE), FALSE;
    if (Current().Fault("FlushFileBuffers")) {
        // What the cache held may not have reached the disk.
        if (FileEntry* e = Find(f->key)) e->cut = true, e->cutFrom = 0, e->cutTo = (size_t)-1;
        Current().SyncNames(f->key);
        return Fail(ERROR_DISK_FULL), FALSE;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
    OpenFile* f = Handle(FromHandle(file));
    if (high) *high = 0;
    if (!f) return Fail(ERROR_INVALID_HANDLE), (DWORD)-1;
    FileEntry* e = Find(f->key);
    return e ? (DWORD)e->data.size() : 0;
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    OpenFile* f = Handle(FromHandle(file));
    if (!f || !info) return Fail(ERROR_INVALID_HANDLE), FALSE;
    if (Current().Fault("GetFileInformationByHandle")) return Fail(ERROR_ACCESS_DENIED), FALSE;
    FileEntry* e = Find(f->key);
    if (!e) return Fail(ERROR_INVALID_HANDLE), FALSE;
    memset(info, 0, sizeof(*info));
    info->dwFileAttributes = e->attributes | (e->reparseTarget.empty() ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
    info->nFileSizeLow = (DWORD)e->data.size();
    info->nNumberOfLinks = e->names ? (DWORD)e->names->size() : 1;
    return TRUE;
}

BOOL CreateHardLinkA(LPCSTR name, LPCSTR existing, LPSECURITY_ATTRIBUTES) {
    Machine& m = Current();
    std::string from = Target(existing), display;
    if (from.empty()) return FALSE;
    std::string to = Target(name, &display);
    if (to.empty()) return FALSE;
    FileEntry* e = Find(from);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    if (e->dir) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (Find(to)) return Fail(ERROR_ALREADY_EXISTS), FALSE;
    m.AddHardLink(display, existing);
    m.lastError = 0;
    return TRUE;
}

namespace {
// Process handles: 0x8000 + 2 x the index in Machine::processes, its thread
// one more.  The process token is 0x7001.
const intptr_t kProcessHandles = 0x8000;
bool IsProcessHandle(HANDLE h, size_t* index) {
    intptr_t v = (intptr_t)h - kProcessHandles;
    if (v < 0 || (size_t)(v / 2) >= Current().processes.size()) return false;
    if (index) *index = (size_t)(v / 2);
    return true;
}
}  // namespace

FileEntry* sim::HandleEntry(HANDLE handle, std::string* key) {
    OpenFile* f = Handle(FromHandle(handle));
    if (!f) return nullptr;
    if (key) *key = f->key;
    return Find(f->key);
}

// The program is the file at `application` (a full path: nothing is
// searched); its bytes are recorded as they are at that moment.
BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                    DWORD, LPVOID, LPCSTR currentDirectory, LPSTARTUPINFOA, LPPROCESS_INFORMATION info) {
    Machine& m = Current();
    if (!application || !info) return Fail(ERROR_INVALID_PARAMETER), FALSE;
    std::string key = Target(application);
    if (key.empty()) return FALSE;
    if (m.Fault("CreateProcessA")) return Fail(ERROR_ACCESS_DENIED), FALSE;
    FileEntry* e = Find(Followed(key));
    if (!e || e->dir) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    sim::Process p;
    p.application = application;
    p.commandLine = commandLine ? commandLine : "";
    p.currentDir = currentDirectory ? currentDirectory : "";
    p.image = e->data;
    m.processes.push_back(p);
    intptr_t h = kProcessHandles + 2 * (intptr_t)(m.processes.size() - 1);
    info->hProcess = (HANDLE)h;
    info->hThread = (HANDLE)(h + 1);
    info->dwProcessId = 5000 + (DWORD)m.processes.size();
    info->dwThreadId = info->dwProcessId + 1;
    m.lastError = 0;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD) {
    if (sim::IsMutexHandle(object)) return sim::WaitMutex(object);
    if (!IsProcessHandle(object, nullptr) || ((intptr_t)object - kProcessHandles) % 2) return Fail(ERROR_INVALID_HANDLE), WAIT_FAILED;
    return Current().processesHang ? WAIT_TIMEOUT : WAIT_OBJECT_0;
}

DWORD WaitForInputIdle(HANDLE process, DWORD) {
    if (!IsProcessHandle(process, nullptr)) return Fail(ERROR_INVALID_HANDLE), WAIT_FAILED;
    return 0;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD code) {
    if (!IsProcessHandle(process, nullptr) || !code) return Fail(ERROR_INVALID_HANDLE), FALSE;
    *code = Current().processesHang ? STILL_ACTIVE : Current().processExitCode;
    return TRUE;
}

BOOL CloseHandle(HANDLE h) {
    if (Current().mappingHandles.erase(h) || sim::CloseMutex(h)) return TRUE;
    if (h == (HANDLE)(intptr_t)0x7001 || IsProcessHandle(h, nullptr)) return TRUE;
    int idx = FromHandle(h);
    OpenFile* f = Handle(idx);
    if (!f) return Fail(ERROR_INVALID_HANDLE), FALSE;
    f->used = false;
    return TRUE;
}

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
    Machine& m = Current();
    std::string srcKey = Target(existing);
    if (srcKey.empty()) return FALSE;
    srcKey = Followed(srcKey);
    FileEntry* src = Find(srcKey);
    if (!src) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    if (src->dir) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (!OpenForRead(src)) return FALSE;
    if (src->unreadable) return Fail(ERROR_ACCESS_DENIED), FALSE;
    // Windows opens the source sharing reading and deleting, not writing: a
    // file another program keeps open for writing is not copied.  (Wine
    // shares all three.)
    if (!ShareAllows(srcKey, FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_DELETE)) return FALSE;
    std::string display;
    std::string dstKey = Target(target, &display);
    if (dstKey.empty()) return FALSE;
    if (m.Fault("CopyFileA")) return Fail(ERROR_ACCESS_DENIED), FALSE;
    dstKey = Followed(dstKey);
    FileEntry* dst = Find(dstKey);
    if (dst == src) return Fail(ERROR_SHARING_VIOLATION), FALSE;
    if (dst) {
        if (failIfExists) return Fail(ERROR_FILE_EXISTS), FALSE;
        if (!CanReplace(dst, dstKey)) return FALSE;
        if (!ShareAllows(dstKey, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)) return FALSE;
    } else if (WritesDenied(ParentKey(dstKey))) {
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    }
    sim::Bytes data = src->data;
    DWORD attributes = src->attributes | FILE_ATTRIBUTE_ARCHIVE;
    FileEntry& out = dst ? *dst : CreateEntry(dstKey, display);
    out.data = data;
    out.cut = src->cut;
    out.attributes = attributes;
    m.SyncNames(dstKey);
    m.lastError = 0;
    return TRUE;
}

namespace {
// MoveFileA, and MoveFileExA with MOVEFILE_REPLACE_EXISTING: a file in the
// way is replaced unless it could not be deleted (read-only, in use) or is
// a directory.
BOOL MoveEntry(const char* call, LPCSTR existing, LPCSTR target, bool replace) {
    Machine& m = Current();
    std::string srcKey = Target(existing);
    if (srcKey.empty()) return FALSE;
    FileEntry* src = Find(srcKey);
    if (!src) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    std::string display;
    std::string dstKey = Target(target, &display);
    if (dstKey.empty()) return FALSE;
    if (m.Fault(call)) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (src->locked) return Fail(ERROR_SHARING_VIOLATION), FALSE;
    if (!ShareAllows(srcKey, FILE_SHARE_DELETE, kShareAll)) return FALSE;
    if (FileEntry* dst = Find(dstKey)) {
        if (!replace || dstKey == srcKey) return Fail(ERROR_ALREADY_EXISTS), FALSE;
        if (src->dir || dst->dir || dst->loaded || dst->noAccess || (dst->attributes & FILE_ATTRIBUTE_READONLY))
            return Fail(ERROR_ACCESS_DENIED), FALSE;
        if (dst->locked) return Fail(ERROR_SHARING_VIOLATION), FALSE;
        if (!ShareAllows(dstKey, FILE_SHARE_DELETE, kShareAll)) return FALSE;
        if (WritesDenied(dstKey)) return Fail(ERROR_ACCESS_DENIED), FALSE;
    }
    if (WritesDenied(srcKey) || WritesDenied(ParentKey(dstKey))) return Fail(ERROR_ACCESS_DENIED), FALSE;
    m.DropName(dstKey);
    m.files.erase(dstKey);
    if (!src->dir) {
        FileEntry e = *src;
        e.path = display;
        if (e.names) e.names->erase(srcKey), e.names->insert(dstKey);
        m.files.erase(srcKey);
        m.files[dstKey] = e;
        m.lastError = 0;
        return TRUE;
    }
    // Same volume only, as the product uses it; a rename keeps the entry.
    std::vector<std::pair<std::string, FileEntry>> moved;
    for (auto it = m.files.begin(); it != m.files.end();) {
        const std::string& k = it->first;
        if (k == srcKey || (k.size() > srcKey.size() && k.compare(0, srcKey.size(), srcKey) == 0 && k[srcKey.size()] == '\\')) {
            FileEntry e = it->second;
            std::string rest = k.substr(srcKey.size());
            e.path = display + e.path.substr(e.path.size() - rest.size());
            moved.push_back(std::make_pair(dstKey + rest, e));
            it = m.files.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& kv : moved) m.files[kv.first] = kv.second;
    m.lastError = 0;
    return TRUE;
}
}  // namespace

BOOL MoveFileA(LPCSTR existing, LPCSTR target) { return MoveEntry("MoveFileA", existing, target, false); }

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
    if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) && !target) {
        Machine& m = Current();
        std::string key = Target(existing);
        if (key.empty()) return FALSE;
        if (m.Fault("MoveFileExA")) return Fail(ERROR_ACCESS_DENIED), FALSE;
        m.deleteAtRestart.push_back(key);
        m.lastError = 0;
        return TRUE;
    }
    return MoveEntry("MoveFileExA", existing, target, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
}

BOOL DeleteFileA(LPCSTR path) {
    Machine& m = Current();
    std::string key = Target(path);
    if (key.empty()) return FALSE;
    if (m.Fault("DeleteFileA")) return Fail(ERROR_ACCESS_DENIED), FALSE;
    FileEntry* e = Find(key);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    if (e->dir) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (e->locked) return Fail(ERROR_SHARING_VIOLATION), FALSE;
    if (e->loaded || (e->attributes & FILE_ATTRIBUTE_READONLY) || e->noAccess || WritesDenied(key))
        return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (!ShareAllows(key, FILE_SHARE_DELETE, kShareAll)) return FALSE;
    m.DropName(key);
    m.files.erase(key);
    m.lastError = 0;
    return TRUE;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
    Machine& m = Current();
    std::string key = Target(path);
    if (key.empty()) return FALSE;
    if (m.Fault("SetFileAttributesA")) return Fail(ERROR_ACCESS_DENIED), FALSE;
    key = Followed(key);
    FileEntry* e = Find(key);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    if (WritesDenied(key)) return Fail(ERROR_ACCESS_DENIED), FALSE;
    DWORD keep = e->dir ? FILE_ATTRIBUTE_DIRECTORY : 0;
    DWORD a = attributes & ~(DWORD)FILE_ATTRIBUTE_DIRECTORY;
    if (a == 0 && !e->dir) a = FILE_ATTRIBUTE_NORMAL;
    if (a != FILE_ATTRIBUTE_NORMAL) a &= ~(DWORD)FILE_ATTRIBUTE_NORMAL;
    if (e->dir && a == FILE_ATTRIBUTE_NORMAL) a = 0;
    e->attributes = a | keep;
    m.SyncNames(key);
    m.lastError = 0;
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
    std::string key = Target(path);
    if (key.empty()) return INVALID_FILE_ATTRIBUTES;
    FileEntry* e = Find(key);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND), INVALID_FILE_ATTRIBUTES;
    Current().lastError = 0;
    return e->attributes | (e->reparseTarget.empty() ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa) {
    Machine& m = Current();
    std::string display;
    std::string key = Target(path, &display);
    if (key.empty()) return FALSE;
    if (m.Fault("CreateDirectoryA")) return Fail(ERROR_ACCESS_DENIED), FALSE;
    if (Find(key)) return Fail(ERROR_ALREADY_EXISTS), FALSE;
    if (WritesDenied(ParentKey(key))) return Fail(ERROR_ACCESS_DENIED), FALSE;
    FileEntry made;
    made.dir = true;
    if (!sim::ApplyCreationSecurity(made, sa)) return Fail(ERROR_INVALID_SECURITY_DESCR), FALSE;
    FileEntry& e = CreateEntry(key, display, true);
    if (made.secured) e.secured = true, e.dacl = made.dacl, e.daclProtected = made.daclProtected, e.owner = made.owner;
    e.attributes = FILE_ATTRIBUTE_DIRECTORY;
    m.lastError = 0;
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
    Machine& m = Current();
    std::string key = Target(path);
    if (key.empty()) return FALSE;
    FileEntry* e = Find(key);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    if (!e->dir) return Fail(ERROR_DIRECTORY), FALSE;
    for (auto& kv : m.files)
        if (kv.first.size() > key.size() && kv.first.compare(0, key.size(), key) == 0 && kv.first[key.size()] == '\\')
            return Fail(ERROR_DIR_NOT_EMPTY), FALSE;
    if (WritesDenied(key)) return Fail(ERROR_ACCESS_DENIED), FALSE;
    m.files.erase(key);
    return TRUE;
}

namespace {
void FillFind(LPWIN32_FIND_DATAA data, const std::string& name, const FileEntry* e) {
    memset(data, 0, sizeof(*data));
    data->dwFileAttributes = e ? e->attributes : FILE_ATTRIBUTE_DIRECTORY;
    data->nFileSizeLow = e ? (DWORD)e->data.size() : 0;
    snprintf(data->cFileName, sizeof(data->cFileName), "%s", name.c_str());
}
}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    Machine& m = Current();
    if (!pattern) return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    std::string p = pattern;
    size_t cut = sim::LastGbkSeparator(p, "\\/");
    std::string dirPath = cut == std::string::npos ? std::string(".") : p.substr(0, cut + 1);
    std::string mask = cut == std::string::npos ? p : p.substr(cut + 1);
    std::string dirKey = m.Resolve(dirPath);
    FileEntry* dir = dirKey.empty() ? nullptr : Find(dirKey);
    if (!dir || !dir->dir) return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    if (m.Fault("FindFirstFileA")) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
    if (mask.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    std::string fmask = sim::FoldGbk(mask, false);
    FindState st;
    st.used = true;
    if (!IsRoot(dirKey)) {
        if (sim::MatchGbkWildcard(fmask.c_str(), ".")) {
            st.names.push_back(".");
            st.entries.push_back(nullptr);
        }
        if (sim::MatchGbkWildcard(fmask.c_str(), "..")) {
            st.names.push_back("..");
            st.entries.push_back(nullptr);
        }
    }
    std::string prefix = sim::EndsInGbkSeparator(dirKey) ? dirKey : dirKey + "\\";
    for (auto& kv : m.files) {
        if (kv.first.size() <= prefix.size() || kv.first.compare(0, prefix.size(), prefix) != 0) continue;
        if (sim::LastGbkSeparator(kv.first) >= prefix.size()) continue;
        if (!sim::MatchGbkWildcard(fmask.c_str(), kv.first.c_str() + prefix.size())) continue;
        st.names.push_back(kv.second.path.substr(sim::LastGbkSeparator(kv.second.path) + 1));
        st.entries.push_back(&kv.second);
    }
    if (st.names.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    FillFind(data, st.names[0], st.entries[0]);
    st.next = 1;
    for (size_t i = 0; i < g_finds.size(); i++)
        if (!g_finds[i].used) {
            g_finds[i] = st;
            return (HANDLE)(intptr_t)(0x100000 + i);
        }
    g_finds.push_back(st);
    m.lastError = 0;
    return (HANDLE)(intptr_t)(0x100000 + g_finds.size() - 1);
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
    size_t i = (size_t)((intptr_t)find - 0x100000);
    if (i >= g_finds.size() || !g_finds[i].used) return Fail(ERROR_INVALID_HANDLE), FALSE;
    FindState& st = g_finds[i];
    if (st.next >= st.names.size()) return Fail(ERROR_NO_MORE_FILES), FALSE;
    FillFind(data, st.names[st.next], st.entries[st.next]);
    st.next++;
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    size_t i = (size_t)((intptr_t)find - 0x100000);
    if (i >= g_finds.size() || !g_finds[i].used) return Fail(ERROR_INVALID_HANDLE), FALSE;
    g_finds[i] = FindState();
    return TRUE;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
    Machine& m = Current();
    std::string display;
    std::string key = path && *path ? m.Resolve(path, &display) : std::string();
    FileEntry* e = key.empty() ? nullptr : Find(key);
    if (!e) return Fail(ERROR_FILE_NOT_FOUND), FALSE;
    if (!e->dir) return Fail(ERROR_DIRECTORY), FALSE;
    m.currentDir = display;
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    const std::string& d = Current().currentDir;
    if (size <= d.size()) return (DWORD)d.size() + 1;
    memcpy(buffer, d.c_str(), d.size() + 1);
    return (DWORD)d.size();
}

namespace {
UINT CopyOut(const std::string& s, LPSTR buffer, UINT size) {
    if (!buffer || size <= s.size()) return (UINT)s.size() + 1;
    memcpy(buffer, s.c_str(), s.size() + 1);
    return (UINT)s.size();
}
}  // namespace

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) { return CopyOut(Current().SystemDir(), buffer, size); }
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) { return CopyOut(Current().windowsDir, buffer, size); }

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    std::u16string w = sim::GbkToUtf16(Current().SystemDir());
    if (!buffer || size <= w.size()) return (UINT)w.size() + 1;
    memcpy(buffer, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
    return (UINT)w.size();
}

UINT GetDriveTypeA(LPCSTR root) {
    if (!root || !root[0]) return DRIVE_FIXED;
    char d = root[0];
    if (d >= 'a' && d <= 'z') d -= 32;
    auto it = Current().driveTypes.find(d);
    return it == Current().driveTypes.end() ? DRIVE_NO_ROOT_DIR : it->second;
}

// ---- version ---------------------------------------------------------------

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    Machine& m = Current();
    if (!info || (info->dwOSVersionInfoSize != 148 && info->dwOSVersionInfoSize != 156))
        return Fail(ERROR_INSUFFICIENT_BUFFER), FALSE;
    info->dwMajorVersion = m.majorVersion;
    info->dwMinorVersion = m.minorVersion;
    info->dwBuildNumber = m.buildNumber;
    info->dwPlatformId = m.win9x ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = 0;
    if (info->dwOSVersionInfoSize == 156) {
        // OSVERSIONINFOEXA: service pack, suite mask, a workstation.
        BYTE* ex = (BYTE*)info + 148;
        memset(ex, 0, 8);
        ex[4] = 0x00;
        ex[5] = 0x01;  // VER_SUITE_SINGLEUSERTS
        ex[6] = 1;     // VER_NT_WORKSTATION
    }
    return TRUE;
}

DWORD GetVersion(void) {
    Machine& m = Current();
    DWORD v = (m.majorVersion & 0xFF) | ((m.minorVersion & 0xFF) << 8) | ((m.buildNumber & 0x7FFF) << 16);
    if (m.win9x) v |= 0x80000000u;
    return v;
}

UINT GetOEMCP(void) { return Current().oemCodePage; }
UINT GetACP(void) { return Current().ansiCodePage; }

// ---- modules, resources, memory ----------------------------------------------

namespace {
HMODULE const kSelf = (HMODULE)(intptr_t)0x400000;
HMODULE const kAdvapi = (HMODULE)(intptr_t)0x77000000;
HMODULE const kKernel = (HMODULE)(intptr_t)0x76000000;
HMODULE const kFileDll = (HMODULE)(intptr_t)0x10000000;  // a DLL file found by the search
HMODULE const kInputDll = (HMODULE)(intptr_t)0x75000000;
HMODULE const kWtsDll = (HMODULE)(intptr_t)0x74000000;
const DWORD kSearchSystem32 = 0x800;                    // LOAD_LIBRARY_SEARCH_SYSTEM32

void WINAPI SimMd5Init(VORN_MD5_CTX* ctx);
void WINAPI SimMd5Update(VORN_MD5_CTX* ctx, const unsigned char* data, unsigned int len);
void WINAPI SimMd5Final(VORN_MD5_CTX* ctx);

// The simulated advapi32 hashes in the caller's context, as advapi32 does.
static_assert(sizeof(Md5State) <= offsetof(VORN_MD5_CTX, digest), "MD5 context layout");
void WINAPI SimMd5Init(VORN_MD5_CTX* ctx) {
    memset(ctx, 0, sizeof(*ctx));
    Md5Init(reinterpret_cast<Md5State*>(ctx));
}
void WINAPI SimMd5Update(VORN_MD5_CTX* ctx, const unsigned char* data, unsigned int len) {
    Md5Update(reinterpret_cast<Md5State*>(ctx), data, len);
}
void WINAPI SimMd5Final(VORN_MD5_CTX* ctx) { Md5Final(reinterpret_cast<Md5State*>(ctx), ctx->digest); }

BOOL WINAPI SimSetDefaultDllDirectories(DWORD flags) {
    Current().dllSearchFlags = flags;
    return TRUE;
}
BOOL WINAPI SimSetDllDirectoryW(LPCWSTR dir) {
    Current().dllDirectoryEmpty = dir && !dir[0];
    return TRUE;
}

BOOL WINAPI SimWow64Disable(PVOID* old) {
    if (old) *old = (PVOID)(intptr_t)(Current().redirectionDisabled ? 1 : 0);
    Current().redirectionDisabled = true;
    return TRUE;
}
BOOL WINAPI SimWow64Revert(PVOID old) {
    Current().redirectionDisabled = old != nullptr;
    return TRUE;
}
}  // namespace

HMODULE GetModuleHandleA(LPCSTR name) {
    if (!name) return kSelf;
    std::string n = name;
    for (char& c : n) c = (char)tolower((unsigned char)c);
    if (n == "kernel32.dll" || n == "kernel32") return kKernel;
    if (n == "advapi32.dll" || n == "advapi32") return kAdvapi;
    return Fail(ERROR_MOD_NOT_FOUND), nullptr;
}

namespace {
// The module of a DLL file at `path`: the system DLLs in the system (or
// WOW64) directory are the ones loaded already; any other file is a DLL of
// its own.
HMODULE LoadFile(Machine& m, const std::string& path) {
    const FileEntry* e = m.Entry(path);
    std::vector<std::string> parts = sim::SplitGbkPath(path, "\\/", true);
    std::string base = parts.empty() ? std::string() : sim::FoldGbk(parts.back(), true);
    std::string dir = sim::FoldGbk(path.substr(0, path.size() - (parts.empty() ? 0 : parts.back().size())), false);
    while (sim::EndsInGbkSeparator(dir, "\\/")) dir.pop_back();
    bool inSystem = dir == sim::FoldGbk(m.SystemDir(), false) || dir == sim::FoldGbk(m.Wow64Dir(), false);
    if (inSystem && (base == "kernel32.dll" || base == "advapi32.dll")) return GetModuleHandleA(base.c_str());
    if (inSystem && base == "input.dll") return m.inputDll ? kInputDll : nullptr;
    if (inSystem && base == "wtsapi32.dll") return m.wtsAvailable ? kWtsDll : nullptr;
    if (!e || e->dir) return nullptr;
    m.loadedDlls.push_back(e->path);
    return kFileDll;
}
}  // namespace

// A bare name is searched for as Windows does in safe search mode: the
// program's directory, the system and Windows directories, then the current
// directory (unless SetDllDirectoryW took it out); after
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) the system
// directory alone.
HMODULE LoadLibraryA(LPCSTR name) {
    Machine& m = Current();
    if (m.Fault("LoadLibraryA")) return Fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
    if (!name || !*name) return Fail(ERROR_INVALID_PARAMETER), nullptr;
    std::string n = name;
    m.libraryNames.push_back(n);
    if (n.find_first_of("\\/") != std::string::npos) {
        HMODULE h = LoadFile(m, n);
        return h ? h : (Fail(ERROR_MOD_NOT_FOUND), nullptr);
    }
    std::string folded = sim::FoldGbk(n, true);
    if (folded == "kernel32.dll" || folded == "kernel32" || folded == "advapi32.dll" || folded == "advapi32")
        return GetModuleHandleA(name);
    std::vector<std::string> dirs;
    if (m.dllSearchFlags & kSearchSystem32) {
        dirs.push_back(m.SystemDir());
    } else {
        std::vector<std::string> exe = sim::SplitGbkPath(m.exePath, "\\", false);
        dirs.push_back(m.exePath.substr(0, m.exePath.size() - exe.back().size()));
        dirs.push_back(m.SystemDir());
        dirs.push_back(m.windowsDir);
        if (!m.dllDirectoryEmpty) dirs.push_back(m.currentDir);
    }
    for (std::string dir : dirs) {
        if (dir.empty()) continue;
        if (!sim::EndsInGbkSeparator(dir)) dir += '\\';
        HMODULE h = LoadFile(m, dir + n);
        if (h) return h;
    }
    return Fail(ERROR_MOD_NOT_FOUND), nullptr;
}

BOOL WINAPI SimSetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL mask,
                                            SECURITY_DESCRIPTOR_CONTROL bits);

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    Machine& m = Current();
    std::string n = name ? name : "";
    // Windows 2000 and later: an access list protected from inheritance.
    if (module == kAdvapi && n == "SetSecurityDescriptorControl" && m.majorVersion >= 5)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimSetSecurityDescriptorControl));
    if (module == kAdvapi && m.md5Available) {
        if (n == "MD5Init") return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimMd5Init));
        if (n == "MD5Update") return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimMd5Update));
        if (n == "MD5Final") return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimMd5Final));
    }
    if (module == kInputDll && n == "InstallLayoutOrTip" && m.inputDllInstallLayoutOrTip)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&sim::SimInstallLayoutOrTip));
    if (module == kKernel && n == "SetDefaultDllDirectories" && m.defaultDllDirsAvailable)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimSetDefaultDllDirectories));
    if (module == kKernel && n == "SetDllDirectoryW" && !m.win9x)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimSetDllDirectoryW));
    if (m.wtsAvailable && module == kKernel && n == "WTSGetActiveConsoleSessionId")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&sim::SimConsoleSession));
    if (m.wtsAvailable && module == kKernel && n == "ProcessIdToSessionId")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&sim::SimProcessIdToSessionId));
    if (module == kWtsDll && n == "WTSQuerySessionInformationA")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&sim::SimWtsQuerySessionInformationA));
    if (module == kWtsDll && n == "WTSFreeMemory")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&sim::SimWtsFreeMemory));
    if (module == kKernel && m.wow64ApiAvailable) {
        if (n == "Wow64DisableWow64FsRedirection") return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimWow64Disable));
        if (n == "Wow64RevertWow64FsRedirection") return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&SimWow64Revert));
    }
    return Fail(ERROR_PROC_NOT_FOUND), nullptr;
}

BOOL FreeLibrary(HMODULE) { return TRUE; }

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
    return CopyOut(Current().exePath.c_str(), buffer, size);
}

namespace {
std::string ResName(LPCSTR s) {
    if ((uintptr_t)s < 0x10000) return "#" + std::to_string((uintptr_t)s);
    return s;
}
}  // namespace

HRSRC FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
    Machine& m = Current();
    if (module && module != kSelf) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND), nullptr;
    std::string t = ResName(type), n = ResName(name);
    for (size_t i = 0; i < m.resources.size(); i++) {
        const sim::Resource& r = m.resources[i];
        if (r.type == t && r.name == n && (language == 0 || r.language == language))
            return (HRSRC)(intptr_t)(i + 1);
    }
    return Fail(ERROR_RESOURCE_NAME_NOT_FOUND), nullptr;
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) { return FindResourceExA(module, type, name, 0); }

HGLOBAL LoadResource(HMODULE, HRSRC res) {
    size_t i = (size_t)(intptr_t)res;
    if (i == 0 || i > Current().resources.size()) return Fail(ERROR_INVALID_HANDLE), nullptr;
    return (HGLOBAL)res;
}

LPVOID LockResource(HGLOBAL res) {
    size_t i = (size_t)(intptr_t)res;
    if (i == 0 || i > Current().resources.size()) return nullptr;
    return Current().resources[i - 1].data.data();
}

DWORD SizeofResource(HMODULE, HRSRC res) {
    size_t i = (size_t)(intptr_t)res;
    if (i == 0 || i > Current().resources.size()) return 0;
    return (DWORD)Current().resources[i - 1].data.size();
}

BOOL FreeResource(HGLOBAL) { return FALSE; }

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    Machine& m = Current();
    if (m.Fault("GlobalAlloc")) return Fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
    void* p = (flags & GMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (!p) return Fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
    m.liveAllocations++;
    return p;
}
LPVOID GlobalLock(HGLOBAL mem) { return mem; }
BOOL GlobalUnlock(HGLOBAL) { return FALSE; }
HGLOBAL GlobalFree(HGLOBAL mem) {
    if (mem) {
        free(mem);
        Current().liveAllocations--;
    }
    return nullptr;
}
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) { return GlobalAlloc(flags, bytes); }
HLOCAL LocalFree(HLOCAL mem) { return GlobalFree(mem); }

UINT WinExec(LPCSTR command, UINT) {
    Machine& m = Current();
    if (m.Fault("WinExec")) return ERROR_FILE_NOT_FOUND;
    m.winExecs.push_back(command ? command : "");
    return m.winExecResult;
}

void Sleep(DWORD ms) { Current().sleeps.push_back(ms); }

void GetLocalTime(LPSYSTEMTIME time) {
    // A fixed day; the clock follows the tick count.
    DWORD ms = Current().tickCount;
    time->wYear = 2026;
    time->wMonth = 12;
    time->wDayOfWeek = 2;
    time->wDay = 8;
    time->wHour = (WORD)(ms / 3600000 % 24);
    time->wMinute = (WORD)(ms / 60000 % 60);
    time->wSecond = (WORD)(ms / 1000 % 60);
    time->wMilliseconds = (WORD)(ms % 1000);
}

DWORD GetCurrentProcessId(void) { return Current().processId; }

namespace {
std::string EnvName(LPCSTR name) { return sim::FoldGbk(name ? name : "", false); }
}  // namespace

// Windows' contract: the length without the terminator when it fits, else
// the size needed with it; 0 and ERROR_ENVVAR_NOT_FOUND when absent.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    Machine& m = Current();
    auto it = m.environment.find(EnvName(name));
    if (it == m.environment.end()) return Fail(ERROR_ENVVAR_NOT_FOUND), 0;
    const std::string& v = it->second;
    if (!buffer || size <= v.size()) return (DWORD)v.size() + 1;
    memcpy(buffer, v.c_str(), v.size() + 1);
    m.lastError = 0;
    return (DWORD)v.size();
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    Machine& m = Current();
    if (!name || !*name || strchr(name, '=')) return Fail(ERROR_INVALID_PARAMETER), FALSE;
    if (m.Fault("SetEnvironmentVariableA")) return Fail(ERROR_NOT_ENOUGH_MEMORY), FALSE;
    if (value)
        m.environment[EnvName(name)] = value;
    else
        m.environment.erase(EnvName(name));
    return TRUE;
}

DWORD GetTickCount(void) { return Current().tickCount; }

BOOL SHGetSpecialFolderPathA(HWND, LPSTR path, int folder, BOOL) {
    Machine& m = Current();
    if (folder != CSIDL_PROGRAM_FILES || m.shellFolderFails) return FALSE;
    snprintf(path, MAX_PATH, "%s", m.programFiles.c_str());
    return TRUE;
}

namespace {
// Held by another program, or by a handle of the product.
bool MappingExists(Machine& m, const std::string& name) {
    if (m.fileMappings.count(name)) return true;
    for (const auto& h : m.mappingHandles)
        if (h.second == name) return true;
    return false;
}
}  // namespace

// Named file mappings: only the names matter.  Other programs' mappings are
// the machine's `fileMappings`; one the product creates lives until its last
// handle is closed.
HANDLE OpenFileMappingA(DWORD, BOOL, LPCSTR name) {
    Machine& m = Current();
    if (!name || !MappingExists(m, name)) return Fail(ERROR_FILE_NOT_FOUND), nullptr;
    if (m.Fault("OpenFileMappingA")) return Fail(ERROR_ACCESS_DENIED), nullptr;
    HANDLE h = (HANDLE)(intptr_t)(0x300000 + 4 * (m.mappingHandles.size() + 1));
    while (m.mappingHandles.count(h)) h = (HANDLE)((intptr_t)h + 4);
    m.mappingHandles[h] = name;
    return h;
}

HANDLE CreateFileMappingA(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR name) {
    Machine& m = Current();
    if (m.Fault("CreateFileMappingA")) return Fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
    bool existed = name && MappingExists(m, name);
    HANDLE h = (HANDLE)(intptr_t)(0x300000 + 4 * (m.mappingHandles.size() + 1));
    while (m.mappingHandles.count(h)) h = (HANDLE)((intptr_t)h + 4);
    m.mappingHandles[h] = name ? name : "";
    Fail(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

// The product's process ends (a new one may start on the same machine): its
// file, find, registry and mapping handles close, its windows, classes,
// queue, timers and GDI objects go, its memory is freed, and its thread's
// keyboard layout and redirection state are gone.  The disk, the registry,
// other programs' opens and windows, and the records of what happened stay;
// faults stop.
void Machine::EndProcess() {
    sim::EndProcessMutexes(*this);
    for (OpenFile& f : g_open)
        if (f.machine == this) f.used = false;
    for (FindState& f : g_finds) f.used = false;  // they name no machine; one runs at a time
    mappingHandles.clear();
    for (sim::RegHandle& h : regHandles) h.used = false;
    // Its windows: those of its classes, and the children and dialogs they own.
    std::set<HWND> own;
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& kv : gui.windows)
            if (!own.count(kv.first) && (kv.second.proc || own.count(kv.second.parent) || kv.second.cls == "#32770"))
                grew = own.insert(kv.first).second || grew;
    }
    for (HWND w : own) gui.windows.erase(w);
    gui.classes.clear();
    gui.queue.clear();
    gui.quitPosted = false;
    gui.quitCode = 0;
    gui.timers.clear();
    gui.focus = gui.foreground = nullptr;
    gui.dcs.clear();
    gui.objects.clear();
    gui.modalDialog = nullptr;
    gui.dialogEnded = false;
    gui.dialogResult = 0;
    liveAllocations = 0;
    activeLayout = keyboardLayouts.empty() ? nullptr : keyboardLayouts.front().handle;
    redirectionDisabled = false;
    dllSearchFlags = 0;
    dllDirectoryEmpty = false;
    lastError = 0;
    failAt = callLimit = callCount = 0;
    failOnward = false;
    failOnly.clear();
    failedCall.clear();
}
