// The user's earlier data, the configuration files the input method reads,
// and the report on the finished installation.
#pragma once

#include "platform/win32.h"

enum { kOrgAddressBytes = 100, kSettingsRecordBytes = 200, kSettingValueBytes = 251 };

// The web address of the user's organisation (options page); empty when silent.
extern char g_orgAddress[kOrgAddressBytes];

// Packs the previous installation's user files into its "vornback.voz";
// true when every required file went in.  An earlier backup is replaced only
// by a complete new one.  The caller sets the backup state from the result.
bool BackupUserData(void);
// The bare names of the files the install owns in its directory besides the
// payload's members: configuration files, the backup archive, the copies
// the placement makes, the user's files and their ".bak" copies.
// Null-terminated.
const char* const* InstallFileNames(void);
// After the payload is unpacked, while backed up: asks whether the earlier
// data comes back; Yes sets the backup state to keep.
void AskKeepUserData(void);

// Writes the edition marker "wbpybz.voh" and the network settings "vonetsj.dat".
void WriteConfigurationFiles(void);
// Rewrites the settings record "voszsj43.voh" with the chosen window mode;
// nothing under keep.
void WriteSettingsRecord(void);
// Writes the tick count as decimal text to "install.voh".
void WriteInstallStamp(void);
// The address an earlier "vonetsj.dat" holds ("VONETURL1=", else
// "VONETURL2="), or "" into `out` of `cbOut` bytes.
void ReadOrganisationAddress(char* out, size_t cbOut);
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
