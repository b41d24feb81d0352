// The setup window's own record (fonts, brush, fields, rectangles) and the
// drawing operations its pages share.  Internal to ui/.
#pragma once

#include "platform/win32.h"

enum {
    kPageWelcome = 0,
    kPageOptions = 1,
    kPageLeavingOptions = 5,
    kPageInstallPath = 6,
    kPageInstalling = 7,
    kPageLast = 8,
    kPageLastClicked = 9,
};

enum { kPageBackgroundWelcome = 0, kPageBackgroundCommon = 1 };

struct SetupWindow {
    HWND nameField;        // last page: the user tries the input method here
    HWND addressField;     // options page only
    HFONT headingFont;
    HFONT bodyFont;
    HBRUSH progressBrush;
    RECT leftButton;
    RECT rightButton;
    RECT fieldRow;
    POINT progressOrigin;
    SIZE progressSize;
    bool busy;             // install steps are running inside a click
};

extern SetupWindow g_win;

// Colours of the pages.
#define COLOUR_WHITE RGB(255, 255, 255)
#define COLOUR_BLACK RGB(0, 0, 0)
#define COLOUR_GREY RGB(128, 128, 128)
#define COLOUR_BUTTON_TEXT RGB(255, 128, 128)
#define COLOUR_GLOW RGB(255, 187, 187)
#define COLOUR_VERSION_BLUE RGB(0, 0, 192)
#define COLOUR_EDITION_TEAL RGB(33, 205, 173)
#define COLOUR_PROGRESS RGB(255, 0, 0)

// Drawing primitives (ui/draw.cpp).
void PaintPageBackground(HDC dc, int variant);
void DrawWideText(HDC dc, int x, int y, LPCWSTR text);
void DrawEmbossedText(HDC dc, LPCWSTR text, int x, int y);
void DrawGlowingText(HDC dc, LPCWSTR text);
void DrawRaisedFrame(HDC dc, int left, int top, int right, int bottom);
void DrawRaisedFrame(HDC dc, const RECT& r);
void SetButtonTextColour(HDC dc);
void DrawButtons(HDC dc, LPCWSTR leftCaption);

// Page painters (ui/pages.cpp).
void PaintWelcomePage(HDC dc);
void PaintOptionsPage(HDC dc);
void PaintInstallPathPage(HDC dc);
void PaintProgressPage(HDC dc);
void PaintLastPage(HDC dc);
void DrawProgressBar(HDC dc, int done, int total);

// The welcome picture from the payload (ui/splash.cpp).
void DrawArchiveBitmap(int limitRight, int limitBottom, HDC dc, LPCSTR member, int destX, int destY, int destWidth,
                       int destHeight, int srcX, int srcY, int srcWidth, int srcHeight);
