// Contents of the sample payload: deterministic stand-ins for the input
// method's own files, with real bytes wherever the setup program reads them
// (version text, phrase list, settings record, skin archives, splash
// picture).  Integer arithmetic only, so every host produces the same bytes.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>

#include "tools/common/hostio.h"

namespace tool {

// splitmix64, seeded from a name.
class Rng {
   public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint32_t Next();
    uint32_t Below(uint32_t n);  // 0 .. n-1
   private:
    uint64_t state_;
};
uint64_t SeedOf(const std::string& name);

// 24-bit bottom-up BMP; `pixel(x, y, rgb)` with y = 0 at the top.
// `trailing` zero bytes follow the pixels (counted in the file size).
Bytes MakeBmp24(int width, int height, const std::function<void(int, int, unsigned char*)>& pixel,
                size_t trailing = 0);

// "tavk1.bmp": 401 x 310, 24-bit, 373,296 bytes, a splash screen whose top
// 400 x 190 pixels hold the picture.
Bytes MakeSplashBitmap();

// GBK phrase list of `cb` bytes (even): words of two to four characters
// (GB2312 level 1: lead 0xB0-0xD7, trail 0xA1-0xFE), each followed by "; ".
// With `words` non-zero the list has exactly that many words, and with
// `charByteSum` non-zero the bytes of the characters add up to it.
Bytes MakePhraseList(size_t cb, uint64_t seed, uint32_t words = 0, uint32_t charByteSum = 0);

// The UTF-16LE version text "智能砚舟输入平台  " + version ("6.3", "6.7", "7.7").
Bytes VersionText(const char* version);

// An "MZ"/"PE" program image of exactly `cb` bytes (a multiple of 512 from
// 1,536 up) whose body names `name`; `version` (or null) places the version
// text in its resource section.
Bytes MakeProgramImage(const std::string& name, size_t cb, bool x64, bool dll, const char* version);

// "voszsj43.voh": a 200-byte settings record.
Bytes MakeSettingsRecord(uint64_t seed);

// A legacy skin archive ("O") of exactly `cb` bytes with the members
// vobmp8.voh and vobmpsx1.bmp .. vobmpsx7.bmp; `skin` 1, 2 or 3 picks the
// colours.  Empty with `error` set when no padding reaches `cb`.
Bytes MakeSkinArchive(int skin, size_t cb, std::string* error);

// Every payload member except "setupw64.exe" (the x64 build's own bytes).
// Empty with `error` set for an unknown name.
Bytes MakeSampleMember(const std::string& gbkName, std::string* error);

}  // namespace tool
