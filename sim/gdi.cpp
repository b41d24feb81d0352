// GDI of the simulated machine: device contexts with their selected objects,
// and a display list of every drawing call with the state it was drawn in
// (pen, brush, text colour, background mode, font), so tests can check a
// painted page against its numbers.  No pixels are produced.
#include <string.h>

#include "sim/machine.h"

using sim::Current;
using sim::DeviceContext;
using sim::DrawOp;
using sim::GdiObject;
using sim::GuiState;

namespace {
GuiState& Gui() { return Current().gui; }

HGDIOBJ NewHandle() { return (HGDIOBJ)(Gui().nextHandle += 4); }

bool IsStock(HGDIOBJ object) {
    intptr_t v = (intptr_t)object;
    return v >= 0x40 && v <= 0x40 + SYSTEM_FONT;
}

COLORREF StockColor(HGDIOBJ object) {
    switch ((intptr_t)object - 0x40) {
        case WHITE_BRUSH:
        case WHITE_PEN:
            return RGB(255, 255, 255);
        default:
            return RGB(0, 0, 0);
    }
}

COLORREF ColorOf(HGDIOBJ object) {
    if (IsStock(object)) return StockColor(object);
    const GdiObject* o = Gui().Object(object);
    return o ? o->color : 0;
}

DeviceContext* Dc(HDC dc) {
    auto it = Gui().dcs.find(dc);
    return it == Gui().dcs.end() || it->second.released ? nullptr : &it->second;
}

HDC NewDc(HWND window, bool memory) {
    HDC h = (HDC)NewHandle();
    DeviceContext dc;
    dc.window = window;
    dc.memory = memory;
    dc.pen = GetStockObject(BLACK_PEN);
    dc.brush = GetStockObject(WHITE_BRUSH);
    Gui().dcs[h] = dc;
    return h;
}

DrawOp Op(sim::DrawKind kind, HDC h, const DeviceContext& dc) {
    DrawOp op;
    op.kind = kind;
    op.dc = h;
    op.window = dc.window;
    op.fromPaint = dc.fromPaint;
    op.penColor = ColorOf(dc.pen);
    op.brushColor = ColorOf(dc.brush);
    op.textColor = dc.textColor;
    op.bkMode = dc.bkMode;
    op.font = dc.font;
    return op;
}

HGDIOBJ NewObject(const GdiObject& o) {
    HGDIOBJ h = NewHandle();
    Gui().objects[h] = o;
    return h;
}
}  // namespace

HGDIOBJ GetStockObject(int object) { return (HGDIOBJ)(intptr_t)(0x40 + object); }

HDC GetDC(HWND window) {
    if (window && !Gui().Find(window)) return nullptr;
    return NewDc(window, false);
}

int ReleaseDC(HWND, HDC dc) { return Gui().dcs.erase(dc) ? 1 : 0; }

HDC BeginPaint(HWND window, PAINTSTRUCT* ps) {
    memset(ps, 0, sizeof(*ps));
    sim::SimWindow* w = Gui().Find(window);
    if (!w) return nullptr;
    w->needsPaint = false;
    ps->hdc = NewDc(window, false);
    Gui().dcs[ps->hdc].fromPaint = true;
    ps->rcPaint.right = w->width;
    ps->rcPaint.bottom = w->height;
    return ps->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* ps) { return Gui().dcs.erase(ps->hdc) ? TRUE : FALSE; }

HDC CreateCompatibleDC(HDC) { return NewDc(nullptr, true); }
BOOL DeleteDC(HDC dc) { return Gui().dcs.erase(dc) ? TRUE : FALSE; }

HPEN CreatePen(int, int width, COLORREF color) {
    GdiObject o;
    o.kind = sim::kGdiPen;
    o.color = color;
    o.penWidth = width;
    return (HPEN)NewObject(o);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    GdiObject o;
    o.kind = sim::kGdiBrush;
    o.color = color;
    return (HBRUSH)NewObject(o);
}

HFONT CreateFontW(int height, int width, int, int, int weight, DWORD, DWORD, DWORD, DWORD charset, DWORD, DWORD,
                  DWORD, DWORD, LPCWSTR face) {
    GdiObject o;
    o.kind = sim::kGdiFont;
    o.fontHeight = height;
    o.fontWidth = width;
    o.fontWeight = weight;
    o.charset = (BYTE)charset;
    o.face = face ? face : u"";
    return (HFONT)NewObject(o);
}

HBITMAP CreateDIBitmap(HDC, const BITMAPINFOHEADER* header, DWORD, const void*, const BITMAPINFO*, UINT) {
    if (!header) return nullptr;
    BITMAPINFOHEADER h;  // the header may sit at any byte offset
    memcpy(&h, header, sizeof(h));
    GdiObject o;
    o.kind = sim::kGdiBitmap;
    o.bitmapWidth = h.biWidth;
    o.bitmapHeight = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    return (HBITMAP)NewObject(o);
}

HGDIOBJ SelectObject(HDC h, HGDIOBJ object) {
    DeviceContext* dc = Dc(h);
    if (!dc || !object) return nullptr;
    HGDIOBJ* slot = nullptr;
    if (IsStock(object)) {
        intptr_t id = (intptr_t)object - 0x40;
        slot = id == WHITE_PEN || id == BLACK_PEN ? &dc->pen : id == SYSTEM_FONT ? &dc->font : &dc->brush;
    } else {
        GdiObject* o = &Gui().objects[object];
        if (o->deleted) return nullptr;
        switch (o->kind) {
            case sim::kGdiPen: slot = &dc->pen; break;
            case sim::kGdiBrush: slot = &dc->brush; break;
            case sim::kGdiFont: slot = &dc->font; break;
            case sim::kGdiBitmap: slot = &dc->bitmap; break;
            default: return nullptr;
        }
    }
    HGDIOBJ previous = *slot;
    *slot = object;
    // Windows hands back the stock system font for a context's first font.
    return previous ? previous : GetStockObject(SYSTEM_FONT);
}

BOOL DeleteObject(HGDIOBJ object) {
    auto it = Gui().objects.find(object);
    if (it == Gui().objects.end() || it->second.deleted) return FALSE;
    it->second.deleted = true;
    return TRUE;
}

BOOL MoveToEx(HDC h, int x, int y, POINT* previous) {
    DeviceContext* dc = Dc(h);
    if (!dc) return FALSE;
    if (previous) *previous = dc->position;
    dc->position.x = x;
    dc->position.y = y;
    return TRUE;
}

BOOL LineTo(HDC h, int x, int y) {
    DeviceContext* dc = Dc(h);
    if (!dc) return FALSE;
    DrawOp op = Op(sim::kDrawLine, h, *dc);
    op.x0 = dc->position.x, op.y0 = dc->position.y, op.x1 = x, op.y1 = y;
    Gui().drawing.push_back(op);
    dc->position.x = x;
    dc->position.y = y;
    return TRUE;
}

BOOL TextOutA(HDC h, int x, int y, LPCSTR text, int cch) {
    DeviceContext* dc = Dc(h);
    if (!dc || !text || cch < 0) return FALSE;
    DrawOp op = Op(sim::kDrawTextA, h, *dc);
    op.x0 = x, op.y0 = y;
    op.textA.assign(text, (size_t)cch);
    Gui().drawing.push_back(op);
    return TRUE;
}

BOOL TextOutW(HDC h, int x, int y, LPCWSTR text, int cch) {
    DeviceContext* dc = Dc(h);
    if (!dc || !text || cch < 0) return FALSE;
    DrawOp op = Op(sim::kDrawTextW, h, *dc);
    op.x0 = x, op.y0 = y;
    op.textW.assign(text, (size_t)cch);
    Gui().drawing.push_back(op);
    return TRUE;
}

COLORREF SetTextColor(HDC h, COLORREF color) {
    DeviceContext* dc = Dc(h);
    if (!dc) return 0xFFFFFFFF;  // CLR_INVALID
    COLORREF previous = dc->textColor;
    dc->textColor = color;
    return previous;
}

int SetBkMode(HDC h, int mode) {
    DeviceContext* dc = Dc(h);
    if (!dc) return 0;
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}

BOOL Rectangle(HDC h, int left, int top, int right, int bottom) {
    DeviceContext* dc = Dc(h);
    if (!dc) return FALSE;
    DrawOp op = Op(sim::kDrawRectangle, h, *dc);
    op.x0 = left, op.y0 = top, op.x1 = right, op.y1 = bottom;
    Gui().drawing.push_back(op);
    return TRUE;
}

BOOL StretchBlt(HDC dest, int xDest, int yDest, int wDest, int hDest, HDC src, int xSrc, int ySrc, int wSrc,
                int hSrc, DWORD rop) {
    DeviceContext* d = Dc(dest);
    DeviceContext* s = Dc(src);
    if (!d || !s) return FALSE;
    DrawOp op = Op(sim::kDrawStretchBlt, dest, *d);
    op.x0 = xDest, op.y0 = yDest, op.x1 = xDest + wDest, op.y1 = yDest + hDest;
    op.srcX = xSrc, op.srcY = ySrc, op.srcW = wSrc, op.srcH = hSrc;
    op.rop = rop;
    if (const GdiObject* bitmap = Gui().Object(s->bitmap)) {
        op.bitmapWidth = bitmap->bitmapWidth;
        op.bitmapHeight = bitmap->bitmapHeight;
    }
    Gui().drawing.push_back(op);
    return TRUE;
}

namespace {
// The character set of a code page the machine converts; "" for one it
// cannot (not installed, or unknown here).
std::string CodePageCharset(UINT codePage) {
    sim::Machine& m = Current();
    UINT cp = codePage == CP_ACP ? m.ansiCodePage : codePage;
    if (cp == 950) return "BIG5";
    if (cp == 936) return m.codePage936 ? "GBK" : "";
    return "";
}
}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int cbText, LPWSTR out, int cchOut) {
    sim::Machine& m = Current();
    std::string charset = CodePageCharset(codePage);
    if (!text || charset.empty()) return m.lastError = ERROR_INVALID_PARAMETER, 0;
    // -1: up to and including the terminator.
    std::string bytes = cbText < 0 ? std::string(text, strlen(text) + 1) : std::string(text, (size_t)cbText);
    std::u16string wide = sim::Utf8ToUtf16(sim::Iconv("UTF-8", charset, bytes));
    if (cbText < 0 && (wide.empty() || wide.back() != 0)) wide.push_back(0);
    if (cchOut == 0) return (int)wide.size();
    if (!out || (size_t)cchOut < wide.size()) return m.lastError = ERROR_INSUFFICIENT_BUFFER, 0;
    memcpy(out, wide.data(), wide.size() * sizeof(char16_t));
    return (int)wide.size();
}

// A character the code page lacks becomes "?", Windows' default character.
int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR text, int cchText, LPSTR out, int cbOut, LPCSTR, LPBOOL) {
    sim::Machine& m = Current();
    std::string charset = CodePageCharset(codePage);
    if (!text || charset.empty()) return m.lastError = ERROR_INVALID_PARAMETER, 0;
    size_t cch = 0;
    if (cchText < 0) {
        while (text[cch]) cch++;
        cch++;  // the terminator too
    } else {
        cch = (size_t)cchText;
    }
    std::string bytes = sim::Iconv(charset, "UTF-8", sim::Utf16ToUtf8(std::u16string(text, cch)));
    if (cbOut == 0) return (int)bytes.size();
    if (!out || (size_t)cbOut < bytes.size()) return m.lastError = ERROR_INSUFFICIENT_BUFFER, 0;
    memcpy(out, bytes.data(), bytes.size());
    return (int)bytes.size();
}
