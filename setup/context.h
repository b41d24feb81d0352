// The install context: the one process-wide record every step works on, and
// the setup driver's operations (run modes, paths, the install sequence).
#pragma once

#include "platform/win32.h"

enum {
    kRunInteractive = 2,
    kRunSilent = 3,
    kCommandNone = 0,
    kCommandRegister = 5,
    kBackupNone = 0,
    kBackupDone = 1,
    kBackupKeep = 2,
};

// Exit codes of the silent install (the other modes exit 0, or 1618).
enum {
    kExitOk = 0,
    kExitStepFailed = 2,        // the sequence ran to its end, but a step reported a failure
    kExitImeLocked = 3,         // stopped before placing anything: the old input method is locked
    kExitNoPayload = 4,         // the payload resource or the work buffer could not be had
    kExitNotAdministrator = 5,  // the rights check failed; nothing was installed
    kExitRestartNeeded = 3010,  // installed, but a loaded input method was moved aside (ERROR_SUCCESS_REBOOT_REQUIRED)
    kExitAnotherSetup = 1618    // every mode: another setup runs; nothing was changed (ERROR_INSTALL_ALREADY_RUNNING)
};

enum { kDirChars = 200, kPrevDirChars = 256, kWowDirChars = 224, kWorkBufferBytes = 2097152, kKeptNamesBytes = 512 };

// The earlier input method's file in SysWOW64 (64-bit Windows) and in the
// system directory, while it waits under a spare name for the new one.
enum { kImeSlotWow = 0, kImeSlotSystem = 1, kImeSlots = 2 };
struct ParkedFile {
    char target[MAX_PATH];  // where it came from
    char spare[MAX_PATH];   // where it waits; "" when nothing waits
    int flagIfStays;        // a spare that stays loaded asks for a restart
    int kept;               // the new one did not unpack whole: the earlier one keeps its name
};

struct InstallContext {
    char installDir[kDirChars];   // ends in "\" once resolved
    char previousDir[kPrevDirChars];
    char systemDir[kDirChars];    // no trailing "\"
    char windowsDir[kDirChars];   // no trailing "\"
    char wowDir[kWowDirChars];    // windowsDir + "\syswow64"
    DWORD windowsMajor;           // 0 until detected
    DWORD windowsMinor;           // with the major version
    UINT oemCodePage;
    int runState;
    int commandMode;
    int backupState;
    BYTE windowMode;
    BYTE skinChoice;
    int oldImeInUse;
    ParkedFile earlierIme[kImeSlots];
    // The companion program every user's logon starts: its copy in a system
    // directory ("" until placed).
    char runProgram[MAX_PATH];
    // The per-user step every user's next logon runs (Active Setup): its
    // copy in the system directory ("" until placed).
    char perUserProgram[MAX_PATH];
    // The user logged on at the session (the console's, under the system
    // account) when he is not the account this program runs as; asked once.
    int sessionUserAsked;
    BYTE sessionUserSid[SECURITY_MAX_SID_SIZE];
    char sessionUserAccount[256];  // "DOMAIN\user"; "" when there is no such user
    int registrationResult;
    // The bytes the payload's members expand to: the uninstall entry's size.
    DWORD programBytes;
    // The user's earlier files: whether this run's backup holds them all and
    // says so on the disk (the unpack may then write over them), and the
    // names the unpack leaves as they are (separated by spaces).
    int userFilesSaved;
    char userFilesKept[kKeptNamesBytes];
    int currentPage;
    HINSTANCE instance;
    HWND setupWindow;

    // Payload archive (locked resource bytes; not owned) and the work buffer.
    const BYTE* payload;
    DWORD payloadBytes;           // 0 when unknown
    HGLOBAL payloadResource;
    HGLOBAL workMemory;
    BYTE* workBuffer;

    // Unattended runs: no message box is shown, each takes its default answer.
    int quiet;

    // Outcome of the run, for the silent install's exit code.
    int reportedFailures;         // failure messages shown by the steps
    int quietFailures;            // failures the steps leave without a message
    int sequenceStopped;          // the sequence ended early (locked input method)
    int restartNeeded;            // a file Windows held loaded was moved aside: it stays in use until a restart
};

extern InstallContext g_ctx;

// Zero-fills the context (process start; tests between cases).
void ResetInstallContext(void);

// Process entry: the three run modes.  Returns the process exit code.
int SetupMain(HINSTANCE instance, LPCSTR commandLine, int showCommand);

// Restricts where DLLs are loaded from to the system directory (or, where
// that cannot be had, takes the current directory out of the search).
void RestrictDllSearch(void);

// True when `word` occurs in `text`; upper-case ASCII letters of `text`
// match their lower-case forms.  `word` is lower case.
bool ContainsWord(LPCSTR text, LPCSTR word);

// True when the program lacks the rights it needs (Vista and later).
bool AdministratorCheck(void);

// Paths and Windows version.
LPCSTR ResolveInstallDirectory(void);
bool DirectoryExists(LPCSTR path);
bool Is64BitWindows(void);
// Windows 8 (6.2) or later, by the version Is64BitWindows detected last.
bool IsWindows8OrLater(void);
void WowDirectory(char* out, size_t cbOut);
void FirstFixedDrive(char* out, size_t cbOut);  // "d:\vornhu\" or ""
bool WritePathRecord(void);  // false when a record could not be written
void ReadPathRecord(char* target, size_t cbTarget);
// A record an interrupted run left under a spare name comes back first; a
// rights probe it left goes.
void RecoverPathRecords(void);
void FetchSystemDirectory(void);
void FetchWindowsDirectory(void);

// One setup at a time: true when another setup holds the lock (this one must
// change nothing); otherwise this process holds it, where it can be had,
// until ReleaseSetupLock.
bool AnotherSetupRuns(void);
void ReleaseSetupLock(void);

// Copies `src` into `dst` of `cbDst` bytes, cut to fit; always terminated.
void CopyText(char* dst, size_t cbDst, LPCSTR src);
// Appends "\" unless the text is empty or already ends in one.
void EnsureTrailingBackslash(char* dir, size_t cbDir);
// Forms "dir\name"-style paths; false (and an empty result) when cut.
bool FormatPath(char* out, size_t cbOut, LPCSTR format, LPCSTR a, LPCSTR b = NULL);

void RunInstallSequence(void);
// Waits for the 64-bit registration program the sequence started (bounded)
// and removes the directory it ran from; called as the run ends.
void FinishRegistration64(void);

// Every message box of the setup goes through these: no owner, `type` as
// given, and the answer is returned.  In quiet mode nothing is shown and
// `quietAnswer` is taken: IDOK for a message, and for a question the answer
// that keeps the user's data and changes least.  Either way the message and
// its answer go to the log.  ShowMessageA's GBK text and title are shown
// through MessageBoxW wherever the ANSI code page is not 936.
int ShowMessageA(LPCSTR text, LPCSTR title, UINT type, int quietAnswer = IDOK);
int ShowMessageW(LPCWSTR text, LPCWSTR title, UINT type, int quietAnswer = IDOK);

// Failure messages of the install steps: MB_OK messages as above, counted
// for the silent install's exit code.
int ShowFailureA(LPCSTR text, LPCSTR title);
int ShowFailureW(LPCWSTR text, LPCWSTR title);
// A failure a step leaves without a message (a path record, a configuration
// file, a registry entry): counted all the same, so that a silent install
// that did not put everything in place does not exit 0.
void NoteFailure(void);
