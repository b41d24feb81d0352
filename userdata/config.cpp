// The configuration files the input method reads from its installation
// directory and the setup program writes rather than ships: the edition
// marker, the network settings with the organisation's web address, the
// settings record with the status-window mode, and the install stamp.
//
// None of them reports a failure: a file that cannot be written whole keeps
// what it held, and the others are still attempted.
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/log.h"
#include "userdata/texts.h"
#include "userdata/userdata.h"

OrgAddress g_orgAddress;

enum { kNetSettingsBytes = 256, kNetSettingsReadBytes = 1000, kSettingValueMax = 250 };

// Writes `cb` bytes to `name` in the installation directory, whole or not at
// all (an earlier file stays as it was); a file that cannot be written
// shows nothing but is noted.  A read-only file was made so on purpose and
// is not replaced.
static void WriteInstallFile(LPCSTR name, LPCSTR bytes, UINT cb) {
    char path[MAX_PATH];
    bool formed = FormatPath(path, sizeof(path), FMT_INSTALL_FILE, g_ctx.installDir, name);
    DWORD attributes = formed ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (!formed || readOnly || !WriteFileWhole(path, bytes, cb)) {
        NoteFailure();
        return;
    }
    LogFileWritten(name, path, cb);
}

// Copies `text` into `out` of `cbOut` bytes, cut to fit without splitting a
// GBK character.
static void CopyGbkCut(char* out, size_t cbOut, const char* text) {
    size_t n = 0;
    while (text[n] && n + 1 < cbOut) {
        bool lead = (unsigned char)text[n] >= 0x81 && text[n + 1];
        if (lead && n + 2 >= cbOut) break;
        n += lead ? 2 : 1;
    }
    memcpy(out, text, n);
    out[n] = 0;
}

void SetOrganisationAddress(LPCSTR text) {
    CopyGbkCut(g_orgAddress.text, sizeof(g_orgAddress.text), text ? text : "");
    g_orgAddress.given = true;
}

void ConfirmOrganisationAddress(HWND field) {
    if (!field) return;
    char text[kOrgAddressBytes];
    text[0] = 0;
    GetWindowTextA(field, text, sizeof(text));
    bool typed = false;
    for (size_t i = 0; text[i] && !typed; i++) typed = (unsigned char)text[i] > 32;
    if (g_orgAddress.shown || typed) SetOrganisationAddress(text);
}

void WriteConfigurationFiles(void) {
    ResolveInstallDirectory();
    WriteInstallFile(FILE_EDITION_MARKER, EDITION_MARKER, (UINT)sizeof(EDITION_MARKER));

    // The address this run was given, else the one the earlier file holds,
    // read as the options page reads it; an earlier file that cannot be read
    // stays as it is.  The address ends at a line break: one pasted into the
    // field must not add lines (and keys) of its own to the settings text.
    char address[kOrgAddressBytes];
    size_t n = 0;
    if (!g_orgAddress.given && !ReadOrganisationAddress(address, sizeof(address))) {
        NoteFailure();
        return;
    }
    const char* from = g_orgAddress.given ? g_orgAddress.text : address;
    while (n + 1 < sizeof(address) && from[n] && from[n] != '\r' && from[n] != '\n') {
        address[n] = from[n];
        n++;
    }
    address[n] = 0;
    char text[kNetSettingsBytes];
    int cch = snprintf(text, sizeof(text), FMT_NET_SETTINGS, address);
    if (cch < 0 || (size_t)cch >= sizeof(text)) return;
    WriteInstallFile(FILE_NET_SETTINGS, text, (UINT)cch);
}

// The record the input method starts from when there is none to read.
static void DefaultSettingsRecord(BYTE record[kSettingsRecordBytes]) {
    static const BYTE kOnes[] = {9, 10, 12, 15, 19, 22, 24, 36, 41, 43, 54, 58};
    memset(record, 0, kSettingsRecordBytes);
    record[8] = 54;
    for (size_t i = 0; i < sizeof(kOnes); i++) record[kOnes[i]] = 1;
}

void WriteSettingsRecord(void) {
    if (g_ctx.backupState == kBackupKeep) return;  // the user's own record comes back with the restore
    // The user's own record, which the backup does not hold, stays as it is.
    if (NameInList(g_ctx.userFilesKept, FILE_SETTINGS_RECORD)) return;
    char path[MAX_PATH];
    if (!FormatPath(path, sizeof(path), FMT_INSTALL_FILE, g_ctx.installDir, FILE_SETTINGS_RECORD)) return;

    BYTE record[kSettingsRecordBytes];
    DefaultSettingsRecord(record);
    // Normally the record just unpacked from the payload; a short one keeps
    // the default bytes after its end.
    HFILE f = _lopen(path, OF_READ);
    if (f != HFILE_ERROR) {
        BYTE read[kSettingsRecordBytes];
        UINT cb = _lread(f, read, sizeof(read));
        _lclose(f);
        if (cb != (UINT)HFILE_ERROR && cb <= sizeof(read)) memcpy(record, read, cb);
    }

    if (g_ctx.oemCodePage == 950) record[15] = 1;
    record[62] = 0;
    record[63] = 0;
    record[1] = 1;
    record[43] = 1;
    record[54] = 0;
    record[36] = 1;
    switch (g_ctx.windowMode) {
        case 2:  // single-line window
            record[0] = 1;
            record[21] = 0;
            break;
        case 3:  // double window
            record[0] = 4;
            record[21] = 1;
            break;
        case 4:  // Windows-style window
            record[0] = 3;
            record[21] = 1;
            break;
        default:  // two-line window
            record[0] = 0;
            record[21] = 0;
            break;
    }
    if (!NoteSetupWrite(FILE_SETTINGS_RECORD, record, sizeof(record))) {
        NoteFailure();
        return;
    }
    WriteInstallFile(FILE_SETTINGS_RECORD, (LPCSTR)record, sizeof(record));
}

void WriteInstallStamp(void) {
    // "%d": a tick count past 2^31 is written as a negative number, as the
    // input method expects.
    char text[16];
    int cch = snprintf(text, sizeof(text), "%d", (int)GetTickCount());
    if (cch <= 0 || (size_t)cch >= sizeof(text)) return;
    WriteInstallFile(FILE_INSTALL_STAMP, text, (UINT)cch);
}

void FindSettingValue(const char* text, size_t cbText, const char* key, char out[kSettingValueBytes]) {
    out[0] = 0;
    size_t cbKey = strlen(key);
    if (!text || cbKey == 0 || cbKey > cbText) return;
    for (size_t at = 0; at + cbKey <= cbText; at++) {
        if (memcmp(text + at, key, cbKey) != 0) continue;
        size_t from = at + cbKey, n = 0;
        while (from + n < cbText && n < kSettingValueMax && (unsigned char)text[from + n] > 32) n++;
        memcpy(out, text + from, n);
        out[n] = 0;
        return;
    }
}

bool ReadOrganisationAddress(char* out, size_t cbOut) {
    if (!out || cbOut == 0) return false;
    out[0] = 0;
    ResolveInstallDirectory();
    char path[MAX_PATH];
    if (!FormatPath(path, sizeof(path), FMT_INSTALL_FILE, g_ctx.installDir, FILE_NET_SETTINGS)) return false;
    HFILE f = _lopen(path, OF_READ);
    if (f == HFILE_ERROR) return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
    char text[kNetSettingsReadBytes];
    UINT cb = _lread(f, text, sizeof(text));
    _lclose(f);
    if (cb == (UINT)HFILE_ERROR || cb > sizeof(text)) return false;

    // This program writes the address on the second line and leaves the
    // first empty; a first line with a value was set by someone on purpose.
    char value[kSettingValueBytes];
    FindSettingValue(text, cb, NET_KEY_URL1, value);
    if (!value[0]) FindSettingValue(text, cb, NET_KEY_URL2, value);

    CopyGbkCut(out, cbOut, value);
    return true;
}

void LoadOrganisationAddress(HWND field) {
    char address[kOrgAddressBytes];
    bool read = ReadOrganisationAddress(address, sizeof(address));
    bool set = SetWindowTextA(field, address) != FALSE;
    g_orgAddress.shown = read && set;
}
