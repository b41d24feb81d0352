// The five page painters and the progress bar.  A painter draws onto the
// device context it is given (BeginPaint's or GetDC's) and changes nothing
// else but the visibility of the name field and, on the last page, the
// process's keyboard layout.
#include "imereg/imereg.h"
#include "setup/context.h"
#include "ui/setupwin.h"
#include "ui/texts.h"

static void DrawButtonFrames(HDC dc) {
    DrawRaisedFrame(dc, g_win.leftButton);
    DrawRaisedFrame(dc, g_win.rightButton);
}

static void DrawWhite(HDC dc, int x, int y, LPCWSTR text) {
    SetTextColor(dc, COLOUR_WHITE);
    DrawWideText(dc, x, y, text);
}

void PaintWelcomePage(HDC dc) {
    PaintPageBackground(dc, kPageBackgroundWelcome);
    // Drawn with the context's defaults (black on opaque white): seen only
    // while the picture is unpacked, or when it is missing.
    DrawWideText(dc, 50, 150, WELCOME_LOADING_W);
    SetBkMode(dc, TRANSPARENT);
    DrawArchiveBitmap(400, 190, dc, SPLASH_MEMBER, 0, 0, 400, 190, 0, 0, 400, 190);
    SelectObject(dc, g_win.bodyFont);
    DrawWhite(dc, 10, 165, WELCOME_LINE1_W);
    DrawWhite(dc, 50, 195, WELCOME_LINE2_W);
    SetTextColor(dc, COLOUR_VERSION_BLUE);
    DrawWideText(dc, 220, 100, WELCOME_VERSION_W);
    DrawButtonFrames(dc);
    DrawButtons(dc, BUTTON_INSTALL_W);
}

void PaintOptionsPage(HDC dc) {
    PaintPageBackground(dc, kPageBackgroundCommon);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, g_win.bodyFont);
    SetTextColor(dc, COLOUR_BLACK);
    DrawWideText(dc, 30, 10, OPTIONS_TITLE_W);
    DrawWhite(dc, 39, 19, OPTIONS_TITLE_W);
    SetTextColor(dc, COLOUR_EDITION_TEAL);
    DrawWideText(dc, 250, 19, OPTIONS_EDITION_W);
    DrawWhite(dc, 20, 70, OPTIONS_LINE1_W);
    DrawWhite(dc, 20, 90, OPTIONS_LINE2_W);
    DrawWhite(dc, 20, 110, OPTIONS_LINE3_W);
    DrawButtonFrames(dc);
    DrawRaisedFrame(dc, g_win.fieldRow);
    DrawWhite(dc, g_win.fieldRow.left + 5, g_win.fieldRow.top + 4, OPTIONS_FIELD_LABEL_W);
    DrawButtons(dc, BUTTON_INSTALL_W);
}

// "安装路径：" and the installation directory, converted from the system's
// ANSI code page so that it reads right on every Chinese system.
static void DrawInstallPath(HDC dc, int x, int y) {
    WCHAR text[kDirChars + 16];
    const WCHAR* label = PATH_LABEL_W;
    int n = 0;
    while (label[n] && n < (int)(sizeof(text) / sizeof(text[0])) - 1) {
        text[n] = label[n];
        n++;
    }
    int room = (int)(sizeof(text) / sizeof(text[0])) - n;
    int converted = MultiByteToWideChar(CP_ACP, 0, g_ctx.installDir, -1, text + n, room);
    if (converted <= 0) text[n] = 0;
    DrawWhite(dc, x, y, text);
}

void PaintInstallPathPage(HDC dc) {
    PaintPageBackground(dc, kPageBackgroundCommon);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, g_win.headingFont);
    DrawEmbossedText(dc, PATH_HEADING_W, 30, 20);
    SelectObject(dc, g_win.bodyFont);
    DrawEmbossedText(dc, PATH_SUBHEADING_W, 100, 80);
    DrawWhite(dc, 50, 130, PATH_LINE1_W);
    DrawWhite(dc, 30, 155, PATH_LINE2_W);
    DrawButtonFrames(dc);
    DrawRaisedFrame(dc, g_win.fieldRow);
    ShowWindow(g_win.nameField, SW_HIDE);
    DrawInstallPath(dc, g_win.fieldRow.left + 5, g_win.fieldRow.top + 4);
    DrawButtons(dc, BUTTON_INSTALL_W);
}

void PaintProgressPage(HDC dc) {
    PaintPageBackground(dc, kPageBackgroundCommon);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, g_win.headingFont);
    DrawEmbossedText(dc, PROGRESS_HEADING_W, 30, 20);
    SelectObject(dc, g_win.bodyFont);
    SetTextColor(dc, COLOUR_BLACK);
    DrawWideText(dc, 80, 80, PROGRESS_LINE_W);
    DrawGlowingText(dc, PROGRESS_LINE_W);
    SetTextColor(dc, COLOUR_WHITE);
}

void PaintLastPage(HDC dc) {
    ShowWindow(g_win.nameField, SW_SHOW);
    PaintPageBackground(dc, kPageBackgroundCommon);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, g_win.headingFont);
    DrawEmbossedText(dc, LAST_HEADING_W, 30, 20);
    SelectObject(dc, g_win.bodyFont);
    DrawGlowingText(dc, LAST_GLOW_W);
    DrawWhite(dc, 50, 130, LAST_LINE1_W);
    DrawWhite(dc, 50, 155, LAST_LINE2_W);
    DrawWhite(dc, 10, 190, LAST_NAME_LABEL_W);
    DrawButtonFrames(dc);
    DrawButtons(dc, BUTTON_EXIT_W);
    // The user tries the new input method in the name field.
    ActivateInstalledIme();
}

void DrawProgressBar(HDC dc, int done, int total) {
    const int left = g_win.progressOrigin.x;
    const int top = g_win.progressOrigin.y + 3;
    const int width = g_win.progressSize.cx;
    const int bottom = g_win.progressOrigin.y + g_win.progressSize.cy;
    int fill = 0;
    if (total != 0) fill = total < done ? width : (int)((long long)width * done / total);
    if (done < 1) {
        SelectObject(dc, GetStockObject(WHITE_BRUSH));
        Rectangle(dc, left, top, left + width, bottom);
    } else {
        SelectObject(dc, g_win.progressBrush);
        Rectangle(dc, left, top, left + fill, bottom);
    }
}
