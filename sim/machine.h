// The simulated Windows machine: one object holds a whole machine, which a
// test configures, hands to the product through the Win32 names declared in
// sim/winapi.h, and inspects afterwards.  It is a test double; it never ships.
//
// Faults follow SQLite's test VFS: every fallible file, registry, memory and
// process call counts itself; when the count reaches `failAt` that one call
// fails the way Windows would (a plausible GetLastError, a short write), so a
// test can sweep every failure point of an operation.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/gui.h"
#include "sim/winapi.h"

namespace sim {

typedef std::vector<unsigned char> Bytes;

Bytes ToBytes(const std::string& s);
std::string ToString(const Bytes& b);

// One entry of an access list; SIDs are kept as text ("S-1-5-32-544").
struct Ace {
    std::string sid;
    DWORD mask = 0;
    BYTE flags = 0;  // OBJECT_INHERIT_ACE ... INHERITED_ACE
    bool deny = false;
    bool operator==(const Ace& o) const { return sid == o.sid && mask == o.mask && flags == o.flags && deny == o.deny; }
};

extern const char* const kSidAdministrators;
extern const char* const kSidSystem;
extern const char* const kSidUsers;
extern const char* const kSidAuthenticatedUsers;
extern const char* const kSidEveryone;
extern const char* const kSidCreatorOwner;
// Mandatory labels: an object without one counts as medium.
enum : DWORD { kIntegrityLow = 0x1000, kIntegrityMedium = 0x2000, kIntegrityHigh = 0x3000 };

// Who asks for access: a user, his groups, his integrity level.
struct Token {
    std::string user;
    std::set<std::string> groups;
    DWORD integrity = kIntegrityMedium;
};

// A program started with CreateProcessA.
struct Process {
    std::string application, commandLine, currentDir;
    Bytes image;  // the program file's bytes when it was started
};

struct FileEntry {
    std::string path;   // as created, for listings
    bool dir = false;
    Bytes data;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    bool loaded = false;      // mapped image: can be renamed, not deleted or written
    bool locked = false;      // open without sharing: neither
    bool unreadable = false;  // opens, but every read fails with ERROR_ACCESS_DENIED
    bool noAccess = false;    // cannot be opened at all: ERROR_ACCESS_DENIED
    bool denyWrites = false;  // directory: no file in or below it may be created, changed or removed
    bool cut = false;         // a write to it failed or was short; truncating it for a rewrite clears it
    size_t cutFrom = 0, cutTo = 0;  // the bytes failed writes did not write; rewriting them, or cutting
                                    // the file back to where they begin, clears `cut`
    // Hard links: every name of the file, this one included (folded paths);
    // null while it has one name.  A change through one name reaches all.
    std::shared_ptr<std::set<std::string>> names;
    // A symbolic link or junction: the folded path it points at.  Opening it
    // goes there unless the caller asks for the link itself; deleting or
    // moving it acts on the link.
    std::string reparseTarget;
    // Security, kept in the directories UseStandardSecurity gives an access
    // list and everything created in them: the DACL, whether it is
    // protected from inheritance, the owner and the mandatory label (0:
    // none, which counts as medium).
    bool secured = false;
    std::vector<Ace> dacl;
    bool daclProtected = false;
    std::string owner;
    DWORD label = 0;
};

// A file another program holds open: CreateFileA's access and share mode.
struct OtherOpen {
    std::string key;  // folded full path
    DWORD access = 0;
    DWORD share = 0;
};

struct MessageBoxCall {
    bool wide = false;
    std::string text;  // GBK bytes for the A call
    std::string title;
    std::u16string wtext;  // UTF-16 for the W call
    std::u16string wtitle;
    UINT flags = 0;
    HWND owner = nullptr;
    int answer = 0;
};

struct Resource {
    std::string type;
    std::string name;
    WORD language = 0;
    Bytes data;
};

// Registry value as Windows keeps it: a type and the exact bytes written.
struct RegValue {
    std::string name;  // as written (A names in GBK, W names converted)
    DWORD type = REG_NONE;
    Bytes data;        // exactly the bytes written
    bool wide = false; // written by a W call: `data` is UTF-16LE
};

struct RegKey {
    std::string name;
    std::map<std::string, std::unique_ptr<RegKey>> children;  // folded name -> key
    std::vector<RegValue> values;                            // creation order
    REGSAM denied = 0;        // any requested right in this mask is refused
    bool denyDelete = false;  // RegDeleteKey on it fails
    RegKey* parent = nullptr;
    bool deleted = false;
};

// One open registry handle: the key and the access it was opened with.
struct RegHandle {
    RegKey* key = nullptr;
    REGSAM access = 0;
    bool used = false;
};

// One keyboard layout loaded in the product's thread.
struct KeyboardLayout {
    HKL handle = nullptr;
    std::string name;             // "E0200804", what GetKeyboardLayoutNameA gives
    std::u16string description;   // empty: not an input method (ImmGetDescription fails)
};

struct ImeInstallCall {
    std::u16string file;
    std::u16string text;
    HKL result = nullptr;
};

class Machine {
   public:
    Machine();
    ~Machine();

    // ---- configuration -------------------------------------------------
    DWORD majorVersion = 6, minorVersion = 1, buildNumber = 7601;
    bool win9x = false;
    UINT oemCodePage = 936;
    UINT ansiCodePage = 936;
    bool codePage936 = true;  // GBK conversions installed (East Asian language support)
    std::string windowsDir = "C:\\windows";
    std::string systemDirName = "system32";
    std::string programFiles = "C:\\Program Files (x86)";  // what the shell answers
    bool shellFolderFails = false;
    std::string userName = "Owner";
    // The process's token: its user, and the owner it gives what it creates
    // (an elevated administrator's objects belong to Administrators).
    std::string userSid = "S-1-5-21-1000-2000-3000-1001";
    std::string ownerSid = kSidAdministrators;
    // Terminal sessions: the console's (0xFFFFFFFF: none attached) and this
    // process's, who is logged on at each (domain, user), and the accounts
    // LookupAccountNameA knows ("DOMAIN\\user" -> SID).  `wtsAvailable`
    // false: no wtsapi32 and no session calls in kernel32 (NT 4.0).
    DWORD consoleSession = 1;
    DWORD processSession = 1;
    bool wtsAvailable = true;
    std::map<DWORD, std::pair<std::string, std::string>> sessionUsers;
    std::map<std::string, std::string> accounts;
    bool md5Available = true;         // advapi32 exports MD5Init/Update/Final
    bool wow64ApiAvailable = true;    // kernel32 exports Wow64Disable/RevertWow64FsRedirection
    bool wow64Process = false;        // a 32-bit process on 64-bit Windows: system32 redirects
    bool defaultDllDirsAvailable = true;  // kernel32 exports SetDefaultDllDirectories
    std::string exePath = "C:\\Users\\Owner\\Downloads\\setup.exe";  // the running program
    std::map<char, UINT> driveTypes;  // upper-case letter -> DRIVE_*; others DRIVE_NO_ROOT_DIR
    DWORD tickCount = 123456;
    UINT winExecResult = 33;
    std::vector<Resource> resources;

    // Makes the machine a 64-bit Windows 7 (syswow64 present, the product a
    // WOW64 process) or a 32-bit one.
    void Make64Bit(bool wow64Redirection = true);
    void Make32Bit();
    void MakeXP();
    void Make9x();

    // ---- files -----------------------------------------------------------
    void AddDir(const std::string& path);  // with every missing parent
    void AddFile(const std::string& path, const std::string& content, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    void AddFile(const std::string& path, const Bytes& content, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    // Windows' access lists on C:\, the Windows, system and program-files
    // directories (administrators and SYSTEM full control, users reading and
    // running) and on the Windows Temp directory (users may also add files
    // and directories there, which their creator then owns); what is in
    // them inherits.  Without it the machine keeps no access lists.
    void UseStandardSecurity();
    // The rights `token` has to `path`: its access list, owner and label.
    // An object without an access list grants everything.
    DWORD GrantedRights(const Token& token, const std::string& path) const;
    // Delete, rename or replace: DELETE on it or FILE_DELETE_CHILD on its directory.
    bool MayDelete(const Token& token, const std::string& path) const;
    // A standard user's token: `sid`, Users, Authenticated Users, Everyone.
    static Token StandardUser(const std::string& sid, DWORD integrity = kIntegrityMedium);
    // What a new file or directory at `key` inherits from its directory.
    void InheritSecurity(FileEntry& child, const std::string& key);
    // A second name for an existing file, as CreateHardLinkA makes it.
    void AddHardLink(const std::string& path, const std::string& existing);
    // A symbolic link (or, for a directory, a junction) at `path` to `target`.
    void AddReparsePoint(const std::string& path, const std::string& target, bool directory);
    bool Exists(const std::string& path) const;
    bool IsDir(const std::string& path) const;
    std::string Read(const std::string& path) const;  // "" when absent
    FileEntry* Entry(const std::string& path);        // null when absent
    const FileEntry* Entry(const std::string& path) const;
    std::vector<std::string> List(const std::string& dir) const;  // bare names, sorted
    void Remove(const std::string& path);
    // Opens an existing file as another program's CreateFileA would, under
    // the sharing rules the product's own opens meet; an id for
    // CloseOtherOpen, or 0 with the error in `lastError` when refused.
    int OpenAsOtherProgram(const std::string& path, DWORD access, DWORD share);
    void CloseOtherOpen(int id);
    std::map<int, OtherOpen> otherOpens;
    int otherOpenIds = 0;
    // Deletions MoveFileExA scheduled for the next restart (folded paths).
    std::vector<std::string> deleteAtRestart;

    // ---- registry --------------------------------------------------------
    RegKey* Key(HKEY root, const std::string& path, bool create = false);
    void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value);
    void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const Bytes& data);
    bool HasValue(HKEY root, const std::string& path, const std::string& name);
    // Data of a value as stored (REG_SZ without a terminator if so written); "" when absent.
    std::string GetValue(HKEY root, const std::string& path, const std::string& name, DWORD* type = nullptr);
    std::vector<std::string> Subkeys(HKEY root, const std::string& path);  // enumeration order
    void DeleteKeyTree(HKEY root, const std::string& path);
    // What a fresh Windows holds: the US and Chinese keyboard layouts, both
    // preload lists with 00000804, the user's international settings, and
    // the parents of the setup's entries.
    void AddStandardRegistry();
    // `sid` logs on: his hive under HKEY_USERS (a new one when he has none)
    // becomes HKEY_CURRENT_USER, the current user's goes back under his own
    // SID, and the process token is his.
    void LogOn(const std::string& sid, const std::string& name);
    // Rewrites the current user's preload values as the 9x numbered subkeys.
    void ConvertPreloadTo9x();
    size_t OpenKeyCount() const;  // registry handles not yet closed

    // ---- user interface and processes --------------------------------------
    std::vector<MessageBoxCall> boxes;
    std::deque<int> answers;  // answers for questions, in order; then `defaultAnswer`
    int defaultYesNo = IDYES;
    std::vector<std::string> winExecs;
    // Programs started with CreateProcessA, in order.  Each has ended when
    // waited for, with `processExitCode`, unless `processesHang`.
    std::vector<Process> processes;
    DWORD processExitCode = 0;
    bool processesHang = false;
    // The process environment (names folded to upper case); a program
    // started with WinExec inherits it.
    std::map<std::string, std::string> environment;
    DWORD processId = 4242;
    bool securityFails = false;  // SetKernelObjectSecurity refuses to change a DACL
    std::vector<ImeInstallCall> imeInstalls;
    HKL imeInstallResult = (HKL)(ULONG_PTR)0xE0010804u;  // null: the call fails
    bool imeInstallWritesRegistry = true;                // the entry Windows makes on success
    // input.dll in the system directory (Vista and later), and whether it
    // exports InstallLayoutOrTip; each call's profile string and flags.
    bool inputDll = true;
    bool inputDllInstallLayoutOrTip = true;
    std::vector<std::pair<std::u16string, DWORD>> layoutOrTipCalls;
    std::vector<DWORD> sleeps;
    // DLL search: what the program set, and the DLL files LoadLibraryA took
    // from the file system (full paths as found).
    DWORD dllSearchFlags = 0;         // SetDefaultDllDirectories
    bool dllDirectoryEmpty = false;   // SetDllDirectoryW(L"")
    std::vector<std::string> loadedDlls;
    std::vector<std::string> libraryNames;  // every name LoadLibraryA was given
    GuiState gui;  // windows, messages, timers, device contexts, the display list

    // ---- keyboard layouts and named objects --------------------------------
    // The thread's layouts in GetKeyboardLayoutList order; `activeLayout` is
    // what GetKeyboardLayout(0) answers.  A fresh Chinese Windows has the US
    // keyboard of the Chinese language.  ImmInstallIMEW loads what it
    // registers at the end of the list, as Windows does.
    std::vector<KeyboardLayout> keyboardLayouts{{(HKL)(ULONG_PTR)0x08040804u, "00000804", u""}};
    HKL activeLayout = (HKL)(ULONG_PTR)0x08040804u;
    std::vector<std::pair<HKL, UINT>> layoutActivations;  // ActivateKeyboardLayout calls that succeeded
    // Named file mappings other programs hold open (names are case-sensitive).
    std::set<std::string> fileMappings;
    std::map<HANDLE, std::string> mappingHandles;  // handles the product holds

    // Named mutexes (names case-sensitive): each with its owner, its access
    // list (none: every process may open it), the process that holds it (0:
    // free) and whether the last holder ended holding it.  The product's
    // handles name the process that opened them, so a test can play a
    // second process by changing `processId`.  "Global\" is a namespace
    // from Windows 2000 on; NT 4.0 cannot find it (ERROR_PATH_NOT_FOUND).
    struct Mutex {
        std::string owner;
        bool secured = false;
        std::vector<Ace> dacl;
        DWORD holder = 0;
        bool abandoned = false;
    };
    std::map<std::string, Mutex> mutexes;
    std::map<HANDLE, std::pair<std::string, DWORD>> mutexHandles;  // name, process id
    int mutexHandleIds = 0;
    // The process's token for objects it opens: its user, its owner and the
    // groups every user has; Administrators when it runs elevated (its
    // objects belong to Administrators) or as the system account.
    Token ProcessToken() const;

    // Texts of the message boxes as GBK (wide ones converted), in order.
    std::vector<std::string> BoxTexts() const;

    // The product's process ends; a new one may start (see kernel32.cpp).
    void EndProcess();

    // ---- faults ------------------------------------------------------------
    long failAt = 0;          // 0: never; n: the n-th fallible call fails
    bool failOnward = false;  // every call from the n-th on fails (a full disk)
    std::string failOnly;     // when set, only calls of this name count and fail
    long callLimit = 0;       // a run past this many calls is a hang: abort
    long callCount = 0;       // fallible calls so far (of `failOnly`'s name, if set)
    std::string failedCall;   // the first call that failed
    bool Fault(const char* call);  // counts a call; true when it must fail
    // Another program acting on the machine while the product runs: called
    // once, just before the fallible call numbered `actAt`.
    long actAt = 0;
    std::function<void(Machine&)> act;

    // ---- internals used by the API implementations --------------------------
    std::map<std::string, FileEntry> files;  // folded full path -> entry
    std::string currentDir = "C:\\";
    bool redirectionDisabled = false;
    DWORD lastError = 0;
    std::unique_ptr<RegKey> hives[4];  // HKEY_CLASSES_ROOT, _CURRENT_USER, _LOCAL_MACHINE, _USERS
    std::vector<RegHandle> regHandles;
    std::vector<std::unique_ptr<RegKey>> regDeleted;  // kept alive for handles still open on them
    size_t liveAllocations = 0;

    // After a change through the name `key`: the file's other names see it.
    void SyncNames(const std::string& key);
    // The name `key` goes: the file's other names forget it.
    void DropName(const std::string& key);

    std::string SystemDir() const { return windowsDir + "\\" + systemDirName; }
    std::string Wow64Dir() const { return windowsDir + "\\syswow64"; }
    // Absolute, folded key of a path after WOW64 redirection; "" when invalid.
    std::string Resolve(const std::string& path, std::string* display = nullptr) const;
};

// The owner and DACL a security descriptor gives an object created with it;
// false for one that does not parse.
bool CreationSecurity(LPSECURITY_ATTRIBUTES sa, std::string* owner, bool* secured, std::vector<Ace>* dacl);
// The self-relative descriptor of an owner alone, as GetKernelObjectSecurity gives it.
Bytes OwnerDescriptor(const std::string& owner);
// Named mutexes: the handle's wait, its close, the process's end.
bool IsMutexHandle(HANDLE handle);
DWORD WaitMutex(HANDLE handle);
bool CloseMutex(HANDLE handle);
void EndProcessMutexes(Machine& m);

// The file entry behind a handle of the simulated kernel32 (and its key).
FileEntry* HandleEntry(HANDLE handle, std::string* key);
// The access list a directory created with `sa` gets; false for a
// descriptor that does not parse.
bool ApplyCreationSecurity(FileEntry& e, LPSECURITY_ATTRIBUTES sa);

// input.dll's InstallLayoutOrTip, handed out by GetProcAddress.
BOOL WINAPI SimInstallLayoutOrTip(LPCWSTR profiles, DWORD flags);

// Session calls of kernel32 and wtsapi32, handed out by GetProcAddress.
DWORD WINAPI SimConsoleSession(void);
BOOL WINAPI SimProcessIdToSessionId(DWORD pid, DWORD* session);
BOOL WINAPI SimWtsQuerySessionInformationA(HANDLE server, DWORD session, int cls, LPSTR* out, DWORD* cbOut);
void WINAPI SimWtsFreeMemory(PVOID memory);

// The machine the Win32 functions act on.  Tests install one per case.
Machine& Current();
void Use(Machine* machine);

// Text conversions for tests and the simulation.  Iconv keeps going past an
// unmappable character, writing "?" as Windows' default character does.
std::string Iconv(const std::string& to, const std::string& from, const std::string& in);
std::string GbkToUtf8(const std::string& gbk);
std::string Utf8ToGbk(const std::string& utf8);
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& w);
std::string Utf16ToGbk(const std::u16string& w);
std::u16string GbkToUtf16(const std::string& gbk);

// GBK-aware helpers: a lead byte's partner is never a separator and never
// changes case (the partner may be "\\" or a letter).
std::vector<std::string> SplitGbkPath(const std::string& path, const char* separators, bool skipEmpty);
std::string FoldGbk(const std::string& s, bool toLower);
// Offset of the last separator of a GBK path, npos when there is none.
size_t LastGbkSeparator(const std::string& path, const char* separators = "\\");
// True when the last character (not a trail byte) is a separator.
bool EndsInGbkSeparator(const std::string& path, const char* separators = "\\");
// Windows' "*" and "?" match of a GBK name: "?" is one character, single- or
// double-byte.  "*.*" and "*" match every name.
bool MatchGbkWildcard(const char* pattern, const char* name);

// RFC 1321 MD5 over bytes (for tests and the simulated advapi32).
void Md5(const void* data, size_t length, unsigned char digest[16]);

}  // namespace sim
