// The payload: opening the archive resource, unpacking and verifying
// archives, the file primitives shared by the placement steps, and the
// placement of the program files.
#pragma once

#include "platform/win32.h"

enum { kDigestChars = 34 };  // 32 hex characters and two zero bytes

enum { kPlaceUnpack = 1, kPlaceReplace = 2 };

// Locks the "VOZ"/"TAVKVOZ" resource and allocates the 2 MiB work buffer;
// true when both are there.
bool OpenPayload(void);
void ClosePayload(void);

// Loads the DLL `name` by its full path in the system directory, never by a
// bare name that the search could take from the download folder of this
// elevated program; the path tried goes to `path`.  Null when it cannot.
HMODULE LoadSystemLibrary(LPCSTR name, char* path, size_t cbPath);

// Upper-case hexadecimal MD5 of a byte range; all zero when advapi32's MD5
// functions are not available.
void DigestHex(const void* bytes, DWORD cbBytes, char out[kDigestChars]);
// Digest of a whole file; returns the bytes read (0 when it cannot be opened).
DWORD FileDigest(LPCSTR path, char out[kDigestChars]);

// 0 when the file is absent or deleted, -1 when it exists and stays.
int DeleteIfPresent(LPCSTR path);
// Moves a file that cannot be deleted to a spare name; 0 or -1.  A spare
// name is never one the install owns (below).
int RenameAside(LPCSTR path);
// The same, and the name it moved to into `aside` ("" on failure); the spare
// name `keep` (may be NULL) is neither deleted nor taken.
int RenameAsideTo(LPCSTR path, char* aside, size_t cbAside, LPCSTR keep = NULL);
// Deletes a file that was moved aside; one Windows still holds stays, is
// logged, asks for the restart (exit code 3010) and goes at that restart;
// false then.
bool DiscardAside(LPCSTR path);
// What an earlier run set aside for `path`: when `path` is missing, the
// newest spare comes back under its name (a swap whose moves all failed);
// when it is there, its spares are stale and are discarded.  An unfinished
// new version ("<path>.new") goes too.
void RecoverSetAside(LPCSTR path);
// The same for every file the install owns in `dir` (with its trailing "\").
void RecoverSetAsideIn(LPCSTR dir);

// The bare names of the files the install owns besides the payload's
// members (configuration files, records, the user's files), a
// null-terminated list the run hands over at start.
void SetOwnedFileNames(const char* const* names);
// True for a payload member's name or one of those (letter case aside).
bool IsOwnedFileName(LPCSTR name);

// A file is only ever replaced by a whole new one: the new bytes go to a
// spare name beside the target ("<target>.new"), which then takes the
// target's place in one move.  False leaves the target exactly as it was and
// removes the spare; GetLastError tells why.  File calls only (it may run
// with WOW64 redirection off).  `keep` names a spare this run still needs,
// which a loaded target's rename aside must not take.  `flush` makes the
// bytes reach the disk before the move, so that even a power cut leaves the
// old file or the whole new one: for the user's own data, whose only other
// copy is an archive.  Program files go without it (the next setup rewrites
// them, and a flush per file costs an install dearly on a busy disk).
bool WriteFileWhole(LPCSTR target, const void* bytes, DWORD cbBytes, LPCSTR keep = NULL, bool flush = false);
// Writes `bytes` as a new file `path` (CREATE_NEW: a name that is there, a
// link included, is refused) and closes it; false when a byte is missing.
bool WriteNewFile(LPCSTR path, const void* bytes, DWORD cbBytes, bool flush = false);
// Other programs (the running input method) may hold the user's files open
// for writing, and CopyFileA on Windows opens its source without write
// sharing: such files are read through this open, which lets others go on
// reading and writing.  Only a plain file with one name is read: a hard
// link, symbolic link or junction planted in a directory the user may
// change could lead to a file only this elevated program may read.
// INVALID_HANDLE_VALUE when it cannot be opened or is such a link.
HANDLE OpenSharedRead(LPCSTR path);
// Holds a plain file with one name so that its name cannot be renamed,
// deleted or replaced until the handle is closed; INVALID_HANDLE_VALUE for a
// link or a file that cannot be opened.
HANDLE PinPlainFile(LPCSTR path);
// The same for a directory that is no junction or symbolic link: while the
// handle is open, what is reached through its name is what it holds.
HANDLE PinPlainDirectory(LPCSTR path);
// The whole file read that way into a new zero-filled block with `cbSpare`
// bytes behind its `*cbRead` bytes; null (GetLastError tells why) when it
// cannot be opened or read, or is longer than `cbLimit`.
HGLOBAL ReadFileShared(LPCSTR path, DWORD cbLimit, DWORD cbSpare, DWORD* cbRead);
// Reads up to `cb` bytes into `out`; `*cbRead` is what the file holds now
// (a program writing it may have made it shorter).  False on a read error.
bool ReadUpTo(HANDLE file, void* out, DWORD cb, DWORD* cbRead);
// The bytes of the file `source` (read that way; up to kVozMaxMemberBytes)
// written whole to `target`, flushed when asked.  A source that cannot be
// read leaves the target alone.
bool CopyFileWhole(LPCSTR source, LPCSTR target, bool flush = false);
// Makes the bytes of a file written earlier reach the disk; false when they
// could not.
bool FlushFileToDisk(LPCSTR path);
// The spare name of `target`; false (and "") when it does not fit.
bool SpareName(LPCSTR target, char* spare, size_t cbSpare);
// Moves a finished spare over `target`; a loaded target is renamed aside
// first (never to the name `keep`) and comes back when the move still fails.
bool SwapIntoPlace(LPCSTR spare, LPCSTR target, LPCSTR keep = NULL);

// Unpacks every member into the installation directory; true when all were
// written.  `cbArchive` bounds every read of the (untrusted) archive bytes;
// the work area runs from `workArea` to the end of the work buffer.  The
// members named in `keepNames` (names separated by spaces; may be NULL) are
// checked but not written: the files of those names stay as they are.
// `cbExpanded`, when given, gets the bytes every member that checked out
// expands to (those of `keepNames` too).
bool ExtractArchive(const BYTE* archive, DWORD cbArchive, BYTE* workArea, LPCSTR keepNames = NULL,
                    DWORD* cbExpanded = NULL);
// True when `name` is one of the space-separated names of `list` (exactly).
bool NameInList(LPCSTR list, LPCSTR name);
// Compares every member with the installed file; returns the members that
// passed and appends the failures to `failures` (cut to `cbFailures`).
int VerifyArchive(const BYTE* archive, DWORD cbArchive, char* failures, size_t cbFailures, LPCSTR exclusions);
void ExtractArchiveFile(LPCSTR path);
// The payload member `name` expanded into the work buffer (at its offset
// 100) and checked against its digest there: the only bytes the setup puts
// into a system directory or starts.  Null when the member is missing, does
// not expand or does not match; the bytes last until the work buffer's next
// use.
BYTE* ExpandVerifiedMember(LPCSTR name, DWORD* cbExpanded);
// True when the current-format archive holds a member `name` whose recorded
// digest is `digest` (a real one): the bytes it was computed from are that
// member, whole.
bool MatchesMember(const BYTE* archive, DWORD cbArchive, LPCSTR name, const char digest[kDigestChars]);
// Gives the expanded phrase list "vorncyzk.bak" its trailer ("VORN", byte
// sum, word count) at the returned length m; writes up to m + 12 bytes, and
// m never exceeds `cbText`.
DWORD AddPhraseListTrailer(BYTE* text, DWORD cbText);
// Appends a file as a new current-format member; false leaves the archive as it was.
bool AddFileToArchive(LPCSTR archivePath, LPCSTR sourcePath);
// Appends the member `name` of the current-format archive `from` (its
// record and compressed bytes as they are); false when it is not there, or
// leaves the archive as it was.
bool AddMemberFromArchive(LPCSTR archivePath, const BYTE* from, DWORD cbFrom, LPCSTR name);
// Unpacks the backup archive over the installation and reports how that
// went; true when every member was written and verified.
bool RestoreUserData(void);

// ---- access lists ----------------------------------------------------------------

enum { kSidBytes = SECURITY_MAX_SID_SIZE };
// The SID of the account this program runs as; false when it cannot be had.
bool CurrentUserSid(BYTE* sid, DWORD cbSid);
// True for the Administrators group or the system account.
bool IsAdministratorsOrSystem(PSID sid);
// A security descriptor that gives Administrators and the system account
// `mask` and nobody else anything; owned by Administrators when asked (only
// a member of that group may give it that owner).  `sa` points at it.
struct AdministratorsOnly {
    SECURITY_ATTRIBUTES sa;
    SECURITY_DESCRIPTOR sd;
    BYTE admins[kSidBytes];
    BYTE system[kSidBytes];
    union {
        ACL acl;
        BYTE bytes[256];
    } dacl;
};
bool MakeAdministratorsOnly(AdministratorsOnly* out, DWORD mask, bool ownedByAdministrators);
// True when `sid` is the system account's (S-1-5-18).
bool IsSystemSid(const BYTE* sid);
// "S-1-5-21-…", the name of the user's hive under HKEY_USERS; false when it
// does not fit.
bool SidToText(const BYTE* sid, char* out, size_t cbOut);
// The user logged on at the session that matters to this program: the
// console's when it runs as the system account, else its own session's
// (who logged on there, whoever this program runs as).  His SID and
// "DOMAIN\user"; false when nobody is logged on there or it cannot be told
// (NT 4.0 and 2000 lack the calls).
bool SessionUserSid(BYTE* sid, DWORD cbSid, char* account, size_t cbAccount);
// Creates a new directory in `parent` that only administrators and the
// system account may change (the access list given at creation, not
// inherited, passed on to what is created in it); its path into `out`.
// Never a directory that was there before.  False ("") when none could be
// made.
bool CreatePrivateDirectory(LPCSTR parent, char* out, size_t cbOut);
// Gives `sid` full control of the directory `dir` and of everything created
// in it from now on, without passing it on to what the directory already
// holds; a junction or link in the directory's place is refused.
bool GrantDirectoryAccess(LPCSTR dir, const BYTE* sid);

// WOW64 file-system redirection off and back on (no-ops where it does not exist).
PVOID DisableFsRedirection(void);
void RestoreFsRedirection(PVOID token);

void PlaceProgramFiles(int pass);
void CopyIntoPlace(LPCSTR source, LPCSTR target);
// Makes the version text "智能砚舟输入平台  6.3" (or 6.7) in a stub's or
// setupw64.exe's bytes read 7.7; true when it changed anything.  Bytes above
// 128 KiB are not a stub's and stay as they are.
bool PatchVersionText(BYTE* data, DWORD cbData);

// The earlier input method stays until the new one is whole.  Moves
// `dir`\vornhu4.ime aside and remembers it in `slot` (kImeSlotWow or
// kImeSlotSystem); true when nothing is there, it moved or it already waits,
// false when it is locked.  `flagIfStays`: from now on, a spare of this
// slot still loaded once the new file is in place sets the
// old-input-method-in-use flag.
bool ParkEarlierIme(int slot, LPCSTR dir, bool flagIfStays);
// Puts every earlier input method still waiting back under its own name.
void RestoreEarlierImes(void);
// What an interrupted or held earlier run left aside in the installation
// directory and beside the input method and the uninstaller: put back where
// the file is missing, discarded where it is there.
void RecoverSetAsideFiles(void);

// After the install sequence, interactive only: reports payload files that
// failed verification, then (unless the earlier data is kept) asks for the
// status-window mode and skin and unpacks that skin.
void ChooseSkinAndWindowMode(void);
INT_PTR CALLBACK SkinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
