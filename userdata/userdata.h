// The user's earlier data, the configuration files the input method reads,
// and the report on the finished installation.
#pragma once

#include "platform/win32.h"

enum { kOrgAddressBytes = 100, kSettingsRecordBytes = 200, kSettingValueBytes = 251 };

// The web address of the user's organisation for this run.  Until the run
// is given one, "vonetsj.dat" keeps the address it holds.
struct OrgAddress {
    char text[kOrgAddressBytes];
    bool given;  // written as it is (the options page confirmed it)
    bool shown;  // the options page showed the earlier address, or there was none
};
extern OrgAddress g_orgAddress;
// Gives this run's address (cut to 99 bytes, never inside a GBK character).
void SetOrganisationAddress(LPCSTR text);
// Takes the options page's field when the page is confirmed: an address the
// user typed, or the earlier one the page showed.  An empty field that
// never showed the earlier address, or no field at all, gives nothing.
void ConfirmOrganisationAddress(HWND field);

// Packs the previous installation's user files into its "vornback.voz";
// true when every required file went in.  An earlier backup is replaced only
// by a complete new one; one that waits to be restored gives the files the
// setup wrote over.  Sets g_ctx.userFilesSaved when the archive holds every
// file that is there and says so on the disk.  The caller sets the backup
// state from the result.
bool BackupUserData(void);
// The bare names of the files the install owns in its directory besides the
// payload's members: configuration files, the backup archive, the copies
// the placement makes, the user's files and their ".bak" copies.
// Null-terminated.
const char* const* InstallFileNames(void);
// After the payload is unpacked, while backed up: asks whether the earlier
// data comes back; Yes sets the backup state to keep, No ends the archive's
// wait.
void AskKeepUserData(void);
// The restore put every file back: the archive no longer waits.
void UserDataRestored(void);
// Before the unpack: removes what an unfinished backup left, and chooses the
// user's files the unpack leaves as they are (g_ctx.userFilesKept): in the
// window every one that is there unless the backup saved them; silent, none
// unless an archive waits and its record cannot list what is written.
void PrepareUserFilesForUnpack(void);
// The setup is about to write `cbBytes` bytes into the user file `name` of
// the installation directory: while an archive waits there, its record
// lists their digest first.  False when that could not be written (the
// file must then stay as it is).
bool NoteSetupWrite(LPCSTR name, const void* bytes, DWORD cbBytes);

// Writes the edition marker "wbpybz.voh" and the network settings "vonetsj.dat".
void WriteConfigurationFiles(void);
// Rewrites the settings record "voszsj43.voh" with the chosen window mode;
// nothing under keep.
void WriteSettingsRecord(void);
// Writes the tick count as decimal text to "install.voh".
void WriteInstallStamp(void);
// The address an earlier "vonetsj.dat" holds ("VONETURL1=", else
// "VONETURL2="), or "" into `out` of `cbOut` bytes; false (and "") when the
// file is there but cannot be read.
bool ReadOrganisationAddress(char* out, size_t cbOut);
// Sets the options page's web-address field to that address.
void LoadOrganisationAddress(HWND field);
// Copies the value after the first occurrence of `key` in the `cbText`
// bytes of `text` into `out` (up to a byte <= 32, at most 250 bytes);
// "" when the key is absent.
void FindSettingValue(const char* text, size_t cbText, const char* key, char out[kSettingValueBytes]);

// Survey counters of the installation directory (see report.cpp).
struct InstallSurvey {
    int pathScore;    // 1 listed + 10 enterable + 3 a directory
    DWORD textFiles;  // names holding ".txt"
    DWORD recordFiles;  // ".voh" and not ".txt"
    DWORD otherFiles;
};
extern InstallSurvey g_survey;

// Fills g_survey from the installation directory.
void SurveyInstallDirectory(void);
// n x 256 + last error for the first 20 bytes of `name` in the installation
// directory: 5120 when all 20 were read, the open's last error when it fails.
LONG ProbeInstalledFile(LPCSTR name);
// Checks the finished installation; 1 when it showed a problem report,
// 0 when all was well (the window then shows its completion message).
int ReportInstallResult(void);
