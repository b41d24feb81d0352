// The skin step: after the install sequence the unpacked payload is verified,
// then a small modal dialog asks for the input method's status-window mode
// and skin, and the chosen skin archive is unpacked into the installation
// directory and verified.
//
// A skin archive is read into the work buffer up to 128 KiB.  One that is
// longer, that cannot be read or whose records do not hold together is
// reported like one whose files failed: the verification never looks past
// the bytes read.
#include "payload/payload.h"
#include "payload/texts.h"
#include "payload/voz.h"
#include "setup/context.h"

enum {
    kSkinArchiveLimit = 131072,
    kFailureBytes = 4096,
    kIdOk = 105,
    kWindowModes = 4,  // flags 0..3: radio buttons 101, 102, 106, 107
    kSkins = 3,        // flags 4..6: radio buttons 110, 111, 112
};

// The dialog's seven radio buttons, in the order their check states are set.
static const int kRadioIds[kWindowModes + kSkins] = {101, 102, 106, 107, 110, 111, 112};
static int g_radioFlags[kWindowModes + kSkins];

static void ShowCheckStates(HWND dialog) {
    for (int i = 0; i < kWindowModes + kSkins; i++)
        SendDlgItemMessageA(dialog, kRadioIds[i], BM_SETCHECK, g_radioFlags[i] ? BST_CHECKED : BST_UNCHECKED, 0);
}

// Turns flag `chosen` on and the others of its group off.
static void Choose(int chosen) {
    int first = chosen < kWindowModes ? 0 : kWindowModes;
    int count = chosen < kWindowModes ? kWindowModes : kSkins;
    for (int i = first; i < first + count; i++) g_radioFlags[i] = i == chosen;
}

// 1-based position of the first flag on in the group, or 1.
static BYTE FirstOn(int first, int count) {
    for (int i = 0; i < count; i++)
        if (g_radioFlags[first + i]) return (BYTE)(i + 1);
    return 1;
}

// Only "确定" (or Enter, which presses it) leaves the dialog: Esc and the
// close box send IDCANCEL, which changes nothing.
INT_PTR CALLBACK SkinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        RECT setup;
        if (g_ctx.setupWindow && GetWindowRect(g_ctx.setupWindow, &setup))
            SetWindowPos(dialog, NULL, setup.left, setup.top, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
        Choose(0);
        Choose(kWindowModes);
        ShowCheckStates(dialog);
        return 0;
    }
    if (message != WM_COMMAND) return 0;
    int id = LOWORD(wParam);
    if (id == kIdOk) {
        g_ctx.windowMode = FirstOn(0, kWindowModes);
        g_ctx.skinChoice = FirstOn(kWindowModes, kSkins);
        EndDialog(dialog, 0);
        return 1;
    }
    for (int i = 0; i < kWindowModes + kSkins; i++) {
        if (kRadioIds[i] != id) continue;
        Choose(i);
        ShowCheckStates(dialog);
    }
    return 0;
}

// Appends `piece` when it fits whole.
static void Append(char* text, size_t cbText, LPCSTR piece) {
    size_t used = strlen(text), add = strlen(piece);
    if (used + add < cbText) memcpy(text + used, piece, add + 1);
}

static LPCSTR SkinArchiveFormat(int skin) {
    if (skin == 2) return FMT_SKIN_PINK;
    if (skin == 3) return FMT_SKIN_ANGEL;
    return FMT_SKIN_COOL;
}

// Reads the skin archive from `file` into the work buffer and verifies its
// members in the installation directory; false (with the failures, if any,
// in `failures`) when it is longer than the limit, unreadable, damaged, or
// a member is missing or short.
static bool SkinIsInPlace(HFILE file, char* failures, size_t cbFailures) {
    failures[0] = 0;
    BYTE* archive = g_ctx.workBuffer;
    if (!archive) return false;
    // One byte past the limit tells a longer archive apart.
    UINT got = _lread(file, archive, kSkinArchiveLimit + 1);
    if (got == (UINT)HFILE_ERROR || got > kSkinArchiveLimit) return false;
    MemberIterator it;
    if (!VozBegin(&it, archive, got, kMarkerExact) || it.count == 0) return false;
    VerifyArchive(archive, got, failures, cbFailures, "");
    return failures[0] == 0;
}

void ChooseSkinAndWindowMode(void) {
    // Room is kept behind the verification's text for the sentences appended to it.
    char failures[kFailureBytes];
    size_t cbVerify = sizeof(failures) - strlen(MSG_BREAK MSG_PAYLOAD_NOT_COPIED MSG_SKIN_NOT_COPIED) - 1;
    failures[0] = 0;
    // The user's files the unpack left as they were are not the payload's.
    char exclusions[sizeof(VERIFY_EXCLUSIONS) + kKeptNamesBytes];
    snprintf(exclusions, sizeof(exclusions), "%s%s", VERIFY_EXCLUSIONS, g_ctx.userFilesKept);
    VerifyArchive(g_ctx.payload, g_ctx.payloadBytes, failures, cbVerify, exclusions);
    if (failures[0]) {
        Append(failures, sizeof(failures), MSG_BREAK MSG_PAYLOAD_NOT_COPIED);
        ShowFailureA(failures, PAYLOAD_TITLE_VORN);
    }
    if (g_ctx.backupState == kBackupKeep) return;

    g_ctx.windowMode = 1;
    g_ctx.skinChoice = 1;
    DialogBoxParamA(g_ctx.instance, g_ctx.oemCodePage == 950 ? SKIN_DIALOG_BIG5 : SKIN_DIALOG, g_ctx.setupWindow,
                    SkinDialogProc, 0);

    char path[MAX_PATH];
    if (!FormatPath(path, sizeof(path), SkinArchiveFormat(g_ctx.skinChoice), g_ctx.installDir)) return;
    ExtractArchiveFile(path);
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) {
        Append(failures, sizeof(failures), MSG_SKIN_NOT_COPIED);
        ShowFailureA(failures, PAYLOAD_TITLE_VORN);
        return;
    }
    char skinFailures[kFailureBytes];
    bool inPlace = SkinIsInPlace(file, skinFailures, sizeof(skinFailures) - strlen(MSG_BREAK MSG_SKIN_NOT_COPIED) - 1);
    _lclose(file);
    if (inPlace) return;
    if (skinFailures[0]) Append(skinFailures, sizeof(skinFailures), MSG_BREAK);
    Append(skinFailures, sizeof(skinFailures), MSG_SKIN_NOT_COPIED);
    ShowFailureA(skinFailures, PAYLOAD_TITLE_VORN);
}
