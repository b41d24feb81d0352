// Drawing primitives of the setup window: the gradient background, embossed
// and glowing texts, one-pixel raised frames and the two painted buttons.
#include "ui/setupwin.h"
#include "ui/texts.h"

enum { kCanvasWidth = 400, kCanvasHeight = 310 };

static COLORREF GradientRow(int variant, int y) {
    if (variant == kPageBackgroundWelcome) return RGB(0, (2 * y - 112) & 0xFF, 250 - 140 * y / 310);
    return RGB(150 * y / 310, 255 * y / 310, 250 - 150 * y / 310);
}

void PaintPageBackground(HDC dc, int variant) {
    for (int y = 0; y < kCanvasHeight; y++) {
        HPEN pen = CreatePen(PS_SOLID, 1, GradientRow(variant, y));
        HGDIOBJ previous = SelectObject(dc, pen);
        MoveToEx(dc, 0, y, NULL);
        LineTo(dc, kCanvasWidth, y);
        SelectObject(dc, previous);
        DeleteObject(pen);
    }
}

void DrawWideText(HDC dc, int x, int y, LPCWSTR text) {
    int cch = 0;
    while (text[cch]) cch++;
    TextOutW(dc, x, y, text, cch);
}

void DrawEmbossedText(HDC dc, LPCWSTR text, int x, int y) {
    SetTextColor(dc, COLOUR_BLACK);
    DrawWideText(dc, x, y, text);
    SetTextColor(dc, COLOUR_GREY);
    for (int d = 8; d <= 10; d++) DrawWideText(dc, x + d, y + d, text);
    SetTextColor(dc, COLOUR_WHITE);
    DrawWideText(dc, x + 11, y + 11, text);
}

// The glow always stands at (88, 88): grey shadows, then two copies in glow.
void DrawGlowingText(HDC dc, LPCWSTR text) {
    SetTextColor(dc, COLOUR_GREY);
    for (int d = 0; d <= 2; d++) DrawWideText(dc, 88 + d, 88 + d, text);
    SetTextColor(dc, COLOUR_GLOW);
    DrawWideText(dc, 91, 91, text);
    DrawWideText(dc, 92, 91, text);
}

void DrawRaisedFrame(HDC dc, int left, int top, int right, int bottom) {
    SelectObject(dc, GetStockObject(BLACK_PEN));
    MoveToEx(dc, left, bottom, NULL);
    LineTo(dc, right, bottom);
    LineTo(dc, right, top);
    SelectObject(dc, GetStockObject(WHITE_PEN));
    MoveToEx(dc, right, top, NULL);
    LineTo(dc, left, top);
    LineTo(dc, left, bottom);
}

void DrawRaisedFrame(HDC dc, const RECT& r) { DrawRaisedFrame(dc, r.left, r.top, r.right, r.bottom); }

void SetButtonTextColour(HDC dc) { SetTextColor(dc, COLOUR_BUTTON_TEXT); }

// Captions stand 5 right of and 2 below each button's corner, in the body font.
void DrawButtons(HDC dc, LPCWSTR leftCaption) {
    SelectObject(dc, g_win.bodyFont);
    SetButtonTextColour(dc);
    DrawWideText(dc, g_win.leftButton.left + 5, g_win.leftButton.top + 2, leftCaption);
    DrawWideText(dc, g_win.rightButton.left + 5, g_win.rightButton.top + 2, BUTTON_QUIT_W);
}
