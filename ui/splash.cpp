// The welcome picture: a BMP member of the payload, unpacked into the work
// buffer on every paint, clamped to the picture and to a limit, and copied
// onto the page.  Any failure draws nothing and says nothing.
//
//   BMP file   0 "BM"  10 u32 offset of the pixel bits
//   info       14 u32 header size  18 width  22 height  28 u16 bits per pixel
//              30 u32 compression  34 u32 image size  46 u32 colours used
#include "payload/voz.h"
#include "setup/context.h"
#include "ui/setupwin.h"

enum { kSplashOffset = 100, kFileHeaderBytes = 14, kInfoHeaderMin = 40 };

static int Min(int a, int b) { return a < b ? a : b; }

// The picture is bytes from the payload: before Windows reads the info header,
// its colour table and the pixel rows, all of them must lie inside what was
// unpacked.
static bool BitmapFits(const BYTE* file, size_t cbFile) {
    if (cbFile < kFileHeaderBytes + kInfoHeaderMin) return false;
    uint32_t bitsOffset = VozLe32(file + 10);
    uint32_t cbInfo = VozLe32(file + 14);
    if (cbInfo < kInfoHeaderMin || cbInfo > cbFile - kFileHeaderBytes) return false;
    int32_t width = (int32_t)VozLe32(file + 18);
    int32_t height = (int32_t)VozLe32(file + 22);
    uint32_t bitCount = (uint32_t)file[28] | ((uint32_t)file[29] << 8);
    uint32_t compression = VozLe32(file + 30);
    uint32_t cbImage = VozLe32(file + 34);
    uint32_t coloursUsed = VozLe32(file + 46);
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;

    uint64_t colours = coloursUsed ? coloursUsed : (bitCount <= 8 ? (1u << bitCount) : 0);
    if (compression == 3) colours += 3;  // BI_BITFIELDS: three masks
    uint64_t tableEnd = (uint64_t)kFileHeaderBytes + cbInfo + 4 * colours;
    if (tableEnd > cbFile || bitsOffset < tableEnd - 4 * colours || bitsOffset > cbFile) return false;

    uint64_t cbRows;
    if (compression == 0 || compression == 3) {
        uint64_t stride = (((uint64_t)width * bitCount + 31) / 32) * 4;
        cbRows = stride * (uint64_t)(height < 0 ? -(int64_t)height : height);
    } else {
        cbRows = cbImage;  // run-length data: the header says how much there is
    }
    return cbRows > 0 && cbRows <= cbFile - bitsOffset;
}

void DrawArchiveBitmap(int limitRight, int limitBottom, HDC dc, LPCSTR member, int destX, int destY, int destWidth,
                       int destHeight, int srcX, int srcY, int srcWidth, int srcHeight) {
    if (!g_ctx.payload || !g_ctx.workBuffer) return;
    BYTE* file = g_ctx.workBuffer + kSplashOffset;
    size_t cbFile = FindMember(g_ctx.payload, g_ctx.payloadBytes, member, file, kWorkBufferBytes - kSplashOffset);
    if (file[0] != 'B' || file[1] != 'M') return;
    if (!BitmapFits(file, cbFile)) return;

    const int w = file[18] | (file[19] << 8);
    const int h = file[22] | (file[23] << 8);
    limitRight = Min(limitRight, destX + w);
    limitBottom = Min(limitBottom, destY + h);
    srcX = Min(srcX, w);
    srcY = Min(srcY, h);
    if (srcX + srcWidth > w) srcWidth = w - srcX;
    if (srcY + srcHeight > h) srcHeight = h - srcY;
    destX = Min(destX, limitRight);
    destY = Min(destY, limitBottom);
    if (destX >= limitRight) destWidth = 0;
    if (destY >= limitBottom) destHeight = 0;

    const BITMAPINFOHEADER* info = (const BITMAPINFOHEADER*)(file + kFileHeaderBytes);
    const BYTE* bits = file + VozLe32(file + 10);
    HBITMAP bitmap = CreateDIBitmap(dc, info, CBM_INIT, bits, (const BITMAPINFO*)info, DIB_RGB_COLORS);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    StretchBlt(dc, destX, destY, destWidth, destHeight, memory, srcX, srcY, srcWidth, srcHeight, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
}
