// Writes the setup program's icon group "vornhu": one 32 x 32, 24-bit image
// of an ink-stone blue square with a white brush stroke.
#include <stdio.h>
#include <stdint.h>
#include <string.h>

static void Put16(FILE* f, unsigned v) { fputc(v & 0xFF, f); fputc((v >> 8) & 0xFF, f); }
static void Put32(FILE* f, uint32_t v) { Put16(f, v & 0xFFFF); Put16(f, v >> 16); }

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: mkicon OUT.ico\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "wb");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    const int size = 32;
    const uint32_t xorBytes = size * size * 3, andBytes = size * 4;
    const uint32_t imageBytes = 40 + xorBytes + andBytes;
    Put16(f, 0); Put16(f, 1); Put16(f, 1);                         // ICONDIR
    fputc(size, f); fputc(size, f); fputc(0, f); fputc(0, f);      // ICONDIRENTRY
    Put16(f, 1); Put16(f, 24); Put32(f, imageBytes); Put32(f, 22);
    Put32(f, 40); Put32(f, size); Put32(f, size * 2);              // BITMAPINFOHEADER
    Put16(f, 1); Put16(f, 24); Put32(f, 0); Put32(f, xorBytes);
    Put32(f, 0); Put32(f, 0); Put32(f, 0); Put32(f, 0);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            int d = (x - y) < 0 ? y - x : x - y;
            bool stroke = d < 3 && x > 6 && x < 26;
            fputc(stroke ? 255 : 140, f);  // blue
            fputc(stroke ? 255 : 60, f);   // green
            fputc(stroke ? 255 : 20, f);   // red
        }
    for (uint32_t i = 0; i < andBytes; i++) fputc(0, f);
    return fclose(f) == 0 ? 0 : 1;
}
