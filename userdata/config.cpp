// The configuration files the input method reads from its installation
// directory and the setup program writes rather than ships: the edition
// marker and the network settings with the organisation's web address.
#include "setup/context.h"
#include "setup/log.h"
#include "userdata/texts.h"
#include "userdata/userdata.h"

char g_orgAddress[kOrgAddressBytes];

enum { kNetSettingsBytes = 256 };

// Creates or truncates `name` in the installation directory and writes
// `cb` bytes; a file that cannot be created is simply not written.
static void WriteInstallFile(LPCSTR name, LPCSTR bytes, UINT cb) {
    char path[MAX_PATH];
    if (!FormatPath(path, sizeof(path), FMT_INSTALL_FILE, g_ctx.installDir, name)) return;
    HFILE f = _lcreat(path, 0);
    if (f == HFILE_ERROR) return;
    UINT written = _lwrite(f, bytes, cb);
    _lclose(f);
    if (written == cb) LogFileWritten(name, path, cb);
}

void WriteConfigurationFiles(void) {
    ResolveInstallDirectory();
    WriteInstallFile(FILE_EDITION_MARKER, EDITION_MARKER, (UINT)sizeof(EDITION_MARKER));

    // The address ends at a line break: one pasted into the field must not
    // add lines (and keys) of its own to the settings text.
    char address[kOrgAddressBytes];
    size_t n = 0;
    while (n + 1 < sizeof(address) && g_orgAddress[n] && g_orgAddress[n] != '\r' && g_orgAddress[n] != '\n') {
        address[n] = g_orgAddress[n];
        n++;
    }
    address[n] = 0;
    char text[kNetSettingsBytes];
    int cch = snprintf(text, sizeof(text), FMT_NET_SETTINGS, address);
    if (cch < 0 || (size_t)cch >= sizeof(text)) return;
    WriteInstallFile(FILE_NET_SETTINGS, text, (UINT)cch);
}
