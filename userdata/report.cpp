// The install report: at the end of an interactive install, checks in a
// fixed order that the installation directory exists and can be entered,
// holds enough files, and that the two dictionaries and the input method
// file can be read.  The first check that fails is shown with a code line
// for support; nothing is repaired and nothing is written.
//
// A sound installation must never be reported as broken: the counters do
// not wrap, and the directory test looks at the directory bit alone (a
// compressed or not content-indexed directory is still a directory).
#include "payload/texts.h"
#include "setup/context.h"
#include "userdata/texts.h"
#include "userdata/userdata.h"

InstallSurvey g_survey;

namespace {

enum {
    kReportBlockBytes = 69376,
    kProbeBytes = 20,
    kProbeOk = kProbeBytes * 256,  // 0x1400: all 20 bytes read, no error
    kMinFiles = 74,
    kFullPathScore = 14,
    kCodeLineBytes = 512,
};

// Probes `names` in order until one reads; appends `format` with the last result.
bool ProbeAny(const char* const* names, size_t count, const char* format, char* codes, size_t cbCodes) {
    LONG result = 0;
    for (size_t i = 0; i < count; i++) {
        result = ProbeInstalledFile(names[i]);
        if (result == kProbeOk) break;
    }
    size_t used = strlen(codes);
    snprintf(codes + used, cbCodes - used, format, (unsigned)result);
    return result == kProbeOk;
}

}  // namespace

void SurveyInstallDirectory(void) {
    memset(&g_survey, 0, sizeof(g_survey));
    // An empty directory would survey the process's current directory.
    if (!g_ctx.installDir[0]) return;
    EnsureTrailingBackslash(g_ctx.installDir, sizeof(g_ctx.installDir));

    char pattern[MAX_PATH];
    WIN32_FIND_DATAA found;
    HANDLE find = FormatPath(pattern, sizeof(pattern), FMT_INSTALL_FILE, g_ctx.installDir, SURVEY_PATTERN)
                      ? FindFirstFileA(pattern, &found)
                      : INVALID_HANDLE_VALUE;
    if (find != INVALID_HANDLE_VALUE) {
        g_survey.pathScore = 1;
        do {
            const char* name = found.cFileName;
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
            // Subdirectories (such as "filer") are not files of the installation.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            if (ContainsWord(name, EXT_TEXT))
                g_survey.textFiles++;
            else if (ContainsWord(name, EXT_RECORD))
                g_survey.recordFiles++;
            else
                g_survey.otherFiles++;
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    if (SetCurrentDirectoryA(g_ctx.installDir)) g_survey.pathScore += 10;
    DWORD attributes = GetFileAttributesA(g_ctx.installDir);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) g_survey.pathScore += 3;
}

LONG ProbeInstalledFile(LPCSTR name) {
    char path[MAX_PATH];
    if (!FormatPath(path, sizeof(path), FMT_INSTALL_FILE, g_ctx.installDir, name)) return ERROR_PATH_NOT_FOUND;
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) return (LONG)GetLastError();
    BYTE head[kProbeBytes];
    // _lread answers -1 for a file that opens but cannot be read; the code
    // then shows it in two's complement (ffffff05 for access denied).
    LONG n = (LONG)(int)_lread(file, head, sizeof(head));
    DWORD error = n < kProbeBytes ? GetLastError() : 0;
    _lclose(file);
    return (LONG)((DWORD)n * 256u + error);
}

int ReportInstallResult(void) {
    HGLOBAL memory = GlobalAlloc(GHND, kReportBlockBytes);
    char* report = memory ? (char*)GlobalLock(memory) : NULL;
    if (!report) {
        if (memory) GlobalFree(memory);
        return 0;
    }

    static const char* const kFiveStroke[] = {NAME_PHRASES5_VOH, NAME_PHRASES5, NAME_PHRASES5_DAT};
    static const char* const kPinyin[] = {NAME_PHRASESPY_VOH, NAME_PHRASESPY, NAME_PHRASESPY_DAT};
    char codes[kCodeLineBytes];
    const char* problem = NULL;

    SurveyInstallDirectory();
    snprintf(codes, sizeof(codes), CODE_PATH_FMT, g_ctx.installDir, g_survey.pathScore);
    if (g_survey.pathScore < kFullPathScore) problem = MSG_NO_INSTALL_PATH;
    if (!problem) {
        DWORD files = g_survey.textFiles + g_survey.recordFiles + g_survey.otherFiles;
        size_t used = strlen(codes);
        snprintf(codes + used, sizeof(codes) - used, CODE_FILES_FMT, (int)files);
        if (files < kMinFiles) problem = MSG_FILES_INCOMPLETE;
    }
    if (!problem && !ProbeAny(kFiveStroke, 3, CODE_FIVEPEN_FMT, codes, sizeof(codes))) problem = MSG_NO_FIVEPEN_DICT;
    if (!problem && !ProbeAny(kPinyin, 3, CODE_PINYIN_FMT, codes, sizeof(codes))) problem = MSG_NO_PINYIN_DICT;
    static const char* const kIme[] = {NAME_IME};
    if (!problem && !ProbeAny(kIme, 1, CODE_IME_FMT, codes, sizeof(codes))) problem = MSG_IME_MISSING;

    if (problem) {
        snprintf(report, kReportBlockBytes, "%s%s%s%s", REPORT_HEAD, codes, problem, REPORT_ADVICE);
        ShowFailureA(report, PAYLOAD_TITLE_VORN);
    }
    GlobalUnlock(memory);
    GlobalFree(memory);
    return problem ? 1 : 0;
}
