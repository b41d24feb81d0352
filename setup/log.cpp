// The administrator's log.  Each line is appended on its own: the file is
// opened for appending (FILE_APPEND_DATA: Windows puts every write at the
// end, whoever else appends), written and closed.  The setup and the 64-bit
// registration program it starts write to the same file, possibly at the same
// time, and whatever was logged before a crash is on disk.  A new file starts
// with the UTF-8 byte-order mark, so Notepad reads it as UTF-8.
//
// The log never changes the install: a line that cannot be written is lost,
// nothing is retried or reported, and GetLastError is as the caller left it.
#include "setup/log.h"

#include <stdarg.h>

#include "setup/texts.h"

enum { kLogTextBytes = 4096, kLogWideChars = 4096, kLogLineBytes = 3 * kLogWideChars + 64 };
// Our narrow texts are GBK whatever the system's code page: a Big5 system
// would read them as other characters.
enum { kOwnCodePage = 936 };

struct LogState {
    char path[MAX_PATH];
    bool enabled;
    DWORD startTick;
};

static LogState s_log;
// One line at a time: single-threaded, never re-entered.
static char s_text[kLogTextBytes];
static WCHAR s_wide[kLogWideChars];
static char s_line[kLogLineBytes];

bool LogOpen(LPCSTR path) {
    s_log.enabled = false;
    s_log.path[0] = 0;
    if (!path || !path[0] || strlen(path) >= sizeof(s_log.path)) return false;
    snprintf(s_log.path, sizeof(s_log.path), "%s", path);
    s_log.enabled = true;
    s_log.startTick = GetTickCount();
    return true;
}

void LogClose(void) {
    s_log.enabled = false;
    s_log.path[0] = 0;
}

bool LogEnabled(void) { return s_log.enabled; }
LPCSTR LogPath(void) { return s_log.path; }
DWORD LogElapsed(void) { return GetTickCount() - s_log.startTick; }

// Appends `text` of code page `codePage` to the wide line at `*cch`; a byte
// the code page cannot take in (or a failing conversion) becomes U+FFFD, so
// the line still says what it can.
static void AppendNarrow(size_t* cch, LPCSTR text, size_t cbText, UINT codePage) {
    size_t room = kLogWideChars - 1 - *cch;
    if (cbText == 0 || room == 0) return;
    if (cbText > room) cbText = room;  // at most one wide character per byte
    int got = MultiByteToWideChar(codePage, 0, text, (int)cbText, s_wide + *cch, (int)room);
    if (got > 0) {
        *cch += (size_t)got;
        return;
    }
    for (size_t i = 0; i < cbText; i++) {
        unsigned char c = (unsigned char)text[i];
        s_wide[(*cch)++] = c < 0x80 ? (WCHAR)c : (WCHAR)0xFFFD;
    }
}

static void AppendWide(size_t* cch, LPCWSTR text) {
    for (size_t i = 0; text && text[i] && *cch < kLogWideChars - 1; i++) s_wide[(*cch)++] = text[i];
}

// Encodes one code point as UTF-8 at `*n`; false when it does not fit.
static bool PutUtf8(size_t* n, size_t limit, DWORD c) {
    BYTE out[4];
    size_t k;
    if (c < 0x80) {
        out[0] = (BYTE)c;
        k = 1;
    } else if (c < 0x800) {
        out[0] = (BYTE)(0xC0 | (c >> 6));
        out[1] = (BYTE)(0x80 | (c & 0x3F));
        k = 2;
    } else if (c < 0x10000) {
        out[0] = (BYTE)(0xE0 | (c >> 12));
        out[1] = (BYTE)(0x80 | ((c >> 6) & 0x3F));
        out[2] = (BYTE)(0x80 | (c & 0x3F));
        k = 3;
    } else {
        out[0] = (BYTE)(0xF0 | (c >> 18));
        out[1] = (BYTE)(0x80 | ((c >> 12) & 0x3F));
        out[2] = (BYTE)(0x80 | ((c >> 6) & 0x3F));
        out[3] = (BYTE)(0x80 | (c & 0x3F));
        k = 4;
    }
    if (*n + k > limit) return false;
    memcpy(s_line + *n, out, k);
    *n += k;
    return true;
}

// The wide line as UTF-8 after the time and process id; each run of line
// breaks becomes " / " and a lone surrogate U+FFFD.  Returns the bytes.
static size_t EncodeLine(size_t cchWide) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    int head = snprintf(s_line, sizeof(s_line), LOG_LINE_HEAD, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                        t.wSecond, t.wMilliseconds, (unsigned long)GetCurrentProcessId());
    size_t n = head > 0 ? (size_t)head : 0;
    size_t limit = sizeof(s_line) - 2;  // CR LF
    for (size_t i = 0; i < cchWide; i++) {
        DWORD c = s_wide[i];
        if (c == '\r' || c == '\n') {
            while (i + 1 < cchWide && (s_wide[i + 1] == '\r' || s_wide[i + 1] == '\n')) i++;
            if (n + 3 > limit) break;
            memcpy(s_line + n, " / ", 3);
            n += 3;
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < cchWide && s_wide[i + 1] >= 0xDC00 && s_wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s_wide[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (!PutUtf8(&n, limit, c)) break;
    }
    s_line[n++] = '\r';
    s_line[n++] = '\n';
    return n;
}

static void AppendToFile(const char* bytes, DWORD cb) {
    static const char kBom[] = "\xEF\xBB\xBF";
    HANDLE file = CreateFileA(s_log.path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (GetFileSize(file, NULL) == 0) WriteFile(file, kBom, 3, &written, NULL);
    WriteFile(file, bytes, cb, &written, NULL);
    CloseHandle(file);
}

static void WriteWideLine(size_t cchWide) {
    size_t n = EncodeLine(cchWide);
    AppendToFile(s_line, (DWORD)n);
}

void LogEvent(LPCSTR format, ...) {
    if (!s_log.enabled || !format) return;
    DWORD error = GetLastError();
    va_list args;
    va_start(args, format);
    int cb = vsnprintf(s_text, sizeof(s_text), format, args);
    va_end(args);
    if (cb >= 0) {
        size_t cch = 0;
        AppendNarrow(&cch, s_text, strlen(s_text), kOwnCodePage);
        WriteWideLine(cch);
    }
    SetLastError(error);
}

// `format` with its first two "%s" replaced by `pieces`, wide or narrow in
// the ANSI code page.
static void LogPieces(LPCSTR format, const void* const pieces[2], bool wide) {
    if (!s_log.enabled || !format) return;
    DWORD error = GetLastError();
    int used = 0;
    size_t cch = 0;
    LPCSTR p = format;
    while (*p) {
        LPCSTR mark = strstr(p, "%s");
        if (!mark || used == 2) {
            AppendNarrow(&cch, p, strlen(p), kOwnCodePage);
            break;
        }
        AppendNarrow(&cch, p, (size_t)(mark - p), kOwnCodePage);
        const void* piece = pieces[used++];
        if (wide)
            AppendWide(&cch, (LPCWSTR)piece);
        else if (piece)
            AppendNarrow(&cch, (LPCSTR)piece, strlen((LPCSTR)piece), CP_ACP);
        p = mark + 2;
    }
    WriteWideLine(cch);
    SetLastError(error);
}

void LogEventW(LPCSTR format, LPCWSTR a, LPCWSTR b) {
    const void* pieces[2] = {a, b};
    LogPieces(format, pieces, true);
}

void LogEventAnsi(LPCSTR format, LPCSTR a, LPCSTR b) {
    const void* pieces[2] = {a, b};
    LogPieces(format, pieces, false);
}

void LogFilePlaced(LPCSTR name, LPCSTR target, LPCSTR source) {
    if (!s_log.enabled) return;
    DWORD error = GetLastError();
    HANDLE file = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        LogEvent(LOG_FILE_PLACED_NO_SIZE, name, target);
    } else {
        DWORD cb = GetFileSize(file, NULL);
        CloseHandle(file);
        LogEvent(LOG_FILE_PLACED, name, target, (unsigned long)cb);
    }
    SetLastError(error);
}

void LogFileWritten(LPCSTR name, LPCSTR target, DWORD cbWritten) {
    LogEvent(LOG_FILE_PLACED, name, target, (unsigned long)cbWritten);
}

void LogRegistryKey(LPCSTR root, LPCSTR parent, LPCSTR name) { LogEvent(LOG_REG_KEY, root, parent, name); }

void LogRegistryKeyW(LPCSTR root, LPCWSTR parent, LPCWSTR name) {
    if (!s_log.enabled) return;
    char format[64];
    snprintf(format, sizeof(format), LOG_REG_KEY, root, "%s", "%s");
    LogEventW(format, parent, name);
}

void LogRegistryValue(LPCSTR name, LPCSTR text) { LogEvent(LOG_REG_VALUE, name, text); }

void LogRegistryValueW(LPCWSTR name, LPCWSTR text) { LogEventW(LOG_REG_VALUE, name, text); }

void LogProcessStarted(LPCSTR command, UINT result) { LogEvent(LOG_PROCESS, command, result); }
