// Deterministic contents for the sample payload.  Narrow literals here are
// GBK (the tree compiles with -fexec-charset=GBK); the version text is a
// UTF-16 literal.  No floating point: the bytes must not depend on the host's
// maths library.
#include "tools/common/samplegen.h"

#include <string.h>

#include <vector>

#include "tools/common/payload_names.h"
#include "tools/common/vozpack.h"

namespace tool {

// ---- numbers and bytes -------------------------------------------------------

uint32_t Rng::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return (uint32_t)((z ^ (z >> 31)) >> 32);
}

uint32_t Rng::Below(uint32_t n) { return n ? (uint32_t)(((uint64_t)Next() * n) >> 32) : 0; }

uint64_t SeedOf(const std::string& name) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    return h;
}

namespace {

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = (unsigned char)v;
    b[at + 1] = (unsigned char)(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void Append16(Bytes& b, uint32_t v) {
    b.push_back((unsigned char)v);
    b.push_back((unsigned char)(v >> 8));
}
void Append32(Bytes& b, uint32_t v) {
    Append16(b, v & 0xFFFF);
    Append16(b, v >> 16);
}
void AppendWide(Bytes& b, const char16_t* s) {
    for (; *s; s++) Append16(b, *s);
    Append16(b, 0);
}
void AppendWideAscii(Bytes& b, const std::string& s) {
    for (unsigned char c : s) Append16(b, c);
    Append16(b, 0);
}
size_t AlignUp(size_t v, size_t a) { return (v + a - 1) / a * a; }

int Lerp(int a, int b, int t, int range) { return a + (b - a) * t / range; }

// Blends `color` over `rgb` with `alpha` out of 256.
void Mix(unsigned char* rgb, int r, int g, int b, int alpha) {
    rgb[0] = (unsigned char)((rgb[0] * (256 - alpha) + r * alpha) >> 8);
    rgb[1] = (unsigned char)((rgb[1] * (256 - alpha) + g * alpha) >> 8);
    rgb[2] = (unsigned char)((rgb[2] * (256 - alpha) + b * alpha) >> 8);
}

bool InCircle(int x, int y, int cx, int cy, int r) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; }

// A smooth wave without trigonometry: alternating parabolic arcs, period
// 2 x `half`, amplitude `amp`.
int Wave(int x, int half, int amp) {
    int phase = ((x % (2 * half)) + 2 * half) % (2 * half);
    int h = phase % half;
    int v = 4 * amp * h * (half - h) / (half * half);
    return phase < half ? v : -v;
}

// Common words for the text members (GBK after compilation).
const char* const kWords[] = {
    "智能", "砚舟", "输入", "平台", "五笔", "拼音", "词组", "汉字", "编码", "简体", "繁体", "字库",
    "用户", "设置", "窗口", "皮肤", "声音", "键盘", "软键盘", "标点", "符号", "全角", "半角", "中文",
    "英文", "候选", "翻页", "联想", "自动", "调频", "词频", "造词", "删除", "导入", "导出", "备份",
    "恢复", "网络", "文章", "下载", "单位", "网址", "系统", "安装", "完成", "确定", "取消", "帮助",
    "计算机", "中华人民共和国", "北京", "上海", "学习", "工作", "生活", "朋友", "今天", "明天",
};
const size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);

// GBK text lines ending in CR LF, exactly `cb` bytes.  `style` varies the
// line shape between files.
Bytes MakeGbkText(size_t cb, uint64_t seed, int style) {
    Rng rng(seed);
    Bytes out;
    for (;;) {
        std::string line;
        if (style == 0) {  // "code word word"
            int letters = 1 + (int)rng.Below(4);
            for (int i = 0; i < letters; i++) line += (char)('a' + rng.Below(25));
            line += ' ';
            for (int i = 1 + (int)rng.Below(3); i > 0; i--) {
                line += kWords[rng.Below(kWordCount)];
                line += ' ';
            }
            line.pop_back();
        } else if (style == 1) {  // "KEY=value"
            line = "VO";
            for (int i = 0; i < 4; i++) line += (char)('A' + rng.Below(26));
            line += '=';
            line += kWords[rng.Below(kWordCount)];
            line += std::to_string(rng.Below(100));
        } else {  // sentences
            for (int i = 2 + (int)rng.Below(5); i > 0; i--) line += kWords[rng.Below(kWordCount)];
            line += rng.Below(3) ? "，" : "。";
            for (int i = 2 + (int)rng.Below(4); i > 0; i--) line += kWords[rng.Below(kWordCount)];
            line += "。";
        }
        line += "\r\n";
        // Never leave a single byte: the last line needs room for CR LF.
        size_t left = cb - out.size();
        if (line.size() > left || left - line.size() == 1) break;
        Append(out, line);
    }
    size_t rest = cb - out.size();  // 0 or 2 and more: a last line of plain letters
    for (size_t i = 0; i + 2 < rest; i++) out.push_back((unsigned char)('a' + rng.Below(26)));
    if (rest >= 2) {
        out.push_back('\r');
        out.push_back('\n');
    } else if (rest == 1) {
        out.push_back(' ');
    }
    return out;
}

// A table of fixed-size records: a GBK character in code order, its code
// letters and a count.  Compresses like the real dictionaries do.
Bytes MakeBinaryTable(size_t cb, uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    Append(out, "VOH1");
    Append32(out, (uint32_t)cb);
    unsigned lead = 0xB0, trail = 0xA1;
    int recordBytes = 8 + (int)rng.Below(3) * 4;
    while (out.size() < cb) {
        out.push_back((unsigned char)lead);
        out.push_back((unsigned char)trail);
        for (int i = 0; i < recordBytes - 4; i++)
            out.push_back(i < 4 ? (unsigned char)('a' + rng.Below(25)) : (unsigned char)0);
        Append16(out, rng.Below(rng.Below(2) ? 64 : 4096));
        if (++trail > 0xFE) {
            trail = 0xA1;
            if (++lead > 0xD7) lead = 0xB0;
        }
    }
    out.resize(cb);
    return out;
}

// RIFF WAVE, 8-bit mono 11,025 Hz: a short decaying tone.
Bytes MakeWave(size_t cb, uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    Append(out, "RIFF");
    Append32(out, (uint32_t)(cb - 8));
    Append(out, "WAVEfmt ");
    Append32(out, 16);
    Append16(out, 1);      // PCM
    Append16(out, 1);      // mono
    Append32(out, 11025);  // samples per second
    Append32(out, 11025);  // bytes per second
    Append16(out, 1);      // block align
    Append16(out, 8);      // bits per sample
    Append(out, "data");
    Append32(out, (uint32_t)(cb - 44));
    int period = 8 + (int)rng.Below(30);
    size_t samples = cb - 44;
    for (size_t i = 0; i < samples; i++) {
        int amp = (int)(100 * (samples - i) / samples);
        int phase = (int)(i % (size_t)period);
        int tri = phase < period / 2 ? 4 * phase - period : 3 * period - 4 * phase;  // -period .. period
        int v = 128 + amp * tri / period + (int)rng.Below(3) - 1;
        out.push_back((unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v));
    }
    return out;
}

// A baseline JFIF file: markers, tables and entropy-coded bytes (no 0xFF
// inside, so no stuffing), exactly `cb` bytes.
Bytes MakeJpeg(size_t cb, uint64_t seed, int width, int height) {
    Rng rng(seed);
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    Append(out, std::string("JFIF\0", 5));
    out.insert(out.end(), {0x01, 0x01, 0x01, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00});
    out.insert(out.end(), {0xFF, 0xDB, 0x00, 0x43, 0x00});
    static const unsigned char kLuma[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                            14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                            18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                            49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    out.insert(out.end(), kLuma, kLuma + 64);
    out.insert(out.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08});
    out.insert(out.end(), {(unsigned char)(height >> 8), (unsigned char)height, (unsigned char)(width >> 8),
                           (unsigned char)width});
    out.insert(out.end(), {0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11, 0x00});
    out.insert(out.end(), {0xFF, 0xC4, 0x00, 0x1F, 0x00, 0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04,
                           0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B});
    out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
    while (out.size() + 2 < cb) out.push_back((unsigned char)rng.Below(0xFF));
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

// An uncompressed Flash movie header, tags of repeating shapes, End tag.
Bytes MakeFlash(size_t cb, uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    Append(out, "FWS");
    out.push_back(8);
    Append32(out, (uint32_t)cb);
    out.insert(out.end(), {0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00});  // RECT 400 x 300 px
    Append16(out, 12 << 8);                                                      // 12 frames per second
    Append16(out, 40);
    while (out.size() + 2 < cb) {
        size_t room = cb - 2 - out.size();
        size_t body = 20 + rng.Below(200);
        if (body + 6 > room) body = room >= 6 ? room - 6 : 0;
        if (body == 0) {
            while (out.size() + 2 < cb) out.push_back(0);
            break;
        }
        Append16(out, (2u << 6) | 0x3F);  // DefineShape, long length
        Append32(out, (uint32_t)body);
        for (size_t i = 0; i < body; i++) out.push_back((unsigned char)(i % 7 == 0 ? rng.Below(256) : i & 0x3F));
    }
    Append16(out, 0);
    return out;
}

// A small picture for the "other" bitmaps: a gradient with a frame.
Bytes MakeSmallBitmap(int width, int height, uint64_t seed) {
    Rng rng(seed);
    int r0 = 80 + (int)rng.Below(150), g0 = 80 + (int)rng.Below(150), b0 = 80 + (int)rng.Below(150);
    return MakeBmp24(width, height, [&](int x, int y, unsigned char* rgb) {
        rgb[0] = (unsigned char)Lerp(r0, 250, y, height);
        rgb[1] = (unsigned char)Lerp(g0, 250, x, width);
        rgb[2] = (unsigned char)b0;
        if (x == 0 || y == 0 || x == width - 1 || y == height - 1) rgb[0] = rgb[1] = rgb[2] = 90;
    });
}

}  // namespace

// ---- bitmaps -------------------------------------------------------------------

Bytes MakeBmp24(int width, int height, const std::function<void(int, int, unsigned char*)>& pixel,
                size_t trailing) {
    size_t stride = AlignUp((size_t)width * 3, 4);
    size_t cbPixels = stride * (size_t)height;
    Bytes out(54, 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, (uint32_t)(54 + cbPixels + trailing));
    Put32(out, 10, 54);
    Put32(out, 14, 40);
    Put32(out, 18, (uint32_t)width);
    Put32(out, 22, (uint32_t)height);
    Put16(out, 26, 1);
    Put16(out, 28, 24);
    Put32(out, 34, (uint32_t)cbPixels);
    Put32(out, 38, 2835);  // 72 dpi
    Put32(out, 42, 2835);
    out.reserve(54 + cbPixels + trailing);
    for (int row = 0; row < height; row++) {
        int y = height - 1 - row;  // bottom-up
        size_t start = out.size();
        for (int x = 0; x < width; x++) {
            unsigned char rgb[3] = {0, 0, 0};
            pixel(x, y, rgb);
            out.push_back(rgb[2]);
            out.push_back(rgb[1]);
            out.push_back(rgb[0]);
        }
        while (out.size() - start < stride) out.push_back(0);
    }
    out.insert(out.end(), trailing, 0);
    return out;
}

Bytes MakeSplashBitmap() {
    // 401 x 310: rows of 1,204 bytes, 373,240 bytes of pixels after the 54
    // bytes of headers, and 2 zero bytes after them as some painting
    // programs write: 373,296 bytes.
    return MakeBmp24(
        401, 310,
        [](int x, int y, unsigned char* rgb) {
            if (y < 190) {  // evening sky over the visible part
                rgb[0] = (unsigned char)Lerp(18, 200, y, 189);
                rgb[1] = (unsigned char)Lerp(52, 224, y, 189);
                rgb[2] = (unsigned char)Lerp(118, 244, y, 189);
            } else {  // paper below
                rgb[0] = 238;
                rgb[1] = 240;
                rgb[2] = (unsigned char)(246 - (y - 190) / 10);
            }
            // Two misty hills.
            int d1 = x - 90, d2 = x - 250;
            if (y < 190 && d1 * d1 < 140 * 140 && (190 - y) * 140 * 140 < 38 * (140 * 140 - d1 * d1))
                Mix(rgb, 150, 170, 196, 150);
            if (y < 190 && d2 * d2 < 170 * 170 && (190 - y) * 170 * 170 < 28 * (170 * 170 - d2 * d2))
                Mix(rgb, 112, 134, 166, 170);
            // The ink stone: rim, body, well and a highlight.
            if (InCircle(x, y, 318, 84, 54)) {
                if (!InCircle(x, y, 318, 84, 47)) {
                    rgb[0] = 92, rgb[1] = 106, rgb[2] = 122;
                } else {
                    rgb[0] = (unsigned char)(44 + (y - 30) / 6);
                    rgb[1] = (unsigned char)(56 + (y - 30) / 6);
                    rgb[2] = (unsigned char)(70 + (y - 30) / 5);
                }
                if (InCircle(x, y, 318, 94, 24)) rgb[0] = 18, rgb[1] = 24, rgb[2] = 32;
                if (InCircle(x, y, 306, 82, 6)) Mix(rgb, 190, 205, 225, 200);
            }
            // A brush stroke across the picture, thick in the middle.
            if (x > 30 && x < 370) {
                int centre = 134 + Wave(x, 90, 14);
                int thickness = 8 * (x - 30) * (370 - x) / (170 * 170);
                int d = y > centre ? y - centre : centre - y;
                if (d <= thickness) Mix(rgb, 26, 28, 36, 235);
                else if (d == thickness + 1) Mix(rgb, 26, 28, 36, 110);
            }
            // Ink drops.
            if (InCircle(x, y, 52, 46, 10) || InCircle(x, y, 80, 30, 6) || InCircle(x, y, 98, 56, 4) ||
                InCircle(x, y, 40, 84, 3))
                Mix(rgb, 255, 255, 255, 150);
            // A light band where a caption would go, and a rule under it.
            if (x >= 24 && x <= 216 && y >= 150 && y < 176) Mix(rgb, 255, 255, 255, 80);
            if (x >= 24 && x <= 216 && y == 176) rgb[0] = rgb[1] = rgb[2] = 250;
            // A seal in the hidden lower part.
            if (x >= 20 && x < 60 && y >= 220 && y < 260) {
                bool border = x < 23 || x >= 57 || y < 223 || y >= 257;
                bool mark = (x - 20) % 10 < 4 && (y - 220) % 10 < 4;
                if (border || mark) rgb[0] = 178, rgb[1] = 34, rgb[2] = 34;
            }
        },
        2);
}

// ---- phrase lists ------------------------------------------------------------------

Bytes MakePhraseList(size_t cb, uint64_t seed, uint32_t words, uint32_t charByteSum) {
    Rng rng(seed);
    size_t units = cb / 2;  // a character or a "; " is one unit of two bytes
    if (cb % 2 || units < 3) return Bytes();
    std::vector<uint8_t> lengths;  // characters per word
    if (words) {
        size_t chars = units - words;
        if (units < words || chars < 2 * (size_t)words || chars > 4 * (size_t)words) return Bytes();
        lengths.assign(words, 2);
        size_t extra = chars - 2 * (size_t)words;
        // Random lengths first, then even them out to the exact total.
        size_t have = 0;
        for (uint8_t& k : lengths) {
            uint32_t e = rng.Below(100) < 55 ? 0 : rng.Below(100) < 70 ? 1 : 2;
            k = (uint8_t)(2 + e);
            have += e;
        }
        while (have > extra) {
            uint8_t& k = lengths[rng.Below(words)];
            if (k > 2) k--, have--;
        }
        while (have < extra) {
            uint8_t& k = lengths[rng.Below(words)];
            if (k < 4) k++, have++;
        }
    } else {
        size_t left = units;
        while (left) {
            size_t take = 3 + rng.Below(3);  // a word of 2 to 4 characters plus its "; "
            if (take > left || (left - take > 0 && left - take < 3)) take = left <= 5 ? left : 3;
            lengths.push_back((uint8_t)(take - 1));
            left -= take;
        }
    }
    Bytes out;
    out.reserve(cb);
    std::vector<size_t> trails;  // offsets of trail bytes, for the sum
    uint64_t sum = 0;
    for (uint8_t k : lengths) {
        for (int i = 0; i < k; i++) {
            unsigned lead = 0xB0 + rng.Below(0xD8 - 0xB0);
            unsigned trail = 0xA1 + rng.Below(lead == 0xD7 ? 0xFA - 0xA1 : 0xFF - 0xA1);  // D7FA-D7FE are empty
            out.push_back((unsigned char)lead);
            trails.push_back(out.size());
            out.push_back((unsigned char)trail);
            sum += lead + trail;
        }
        out.push_back(';');
        out.push_back(' ');
    }
    if (charByteSum) {
        // Nudge trail bytes one step at a time, round the list, until the
        // characters add up; each stays a valid GB2312 level-1 code.
        size_t i = 0, stuck = 0;
        while (sum != charByteSum && stuck < trails.size()) {
            unsigned char& t = out[trails[i]];
            unsigned max = out[trails[i] - 1] == 0xD7 ? 0xF9 : 0xFE;
            if (sum < charByteSum && t < max) {
                t++, sum++, stuck = 0;
            } else if (sum > charByteSum && t > 0xA1) {
                t--, sum--, stuck = 0;
            } else {
                stuck++;
            }
            i = (i + 1) % trails.size();
        }
        if (sum != charByteSum) return Bytes();
    }
    return out;
}

// ---- program images ------------------------------------------------------------------

Bytes VersionText(const char* version) {
    Bytes out;
    for (const char16_t* p = u"智能砚舟输入平台  "; *p; p++) Append16(out, *p);
    for (const char* p = version; *p; p++) Append16(out, (unsigned char)*p);
    return out;
}

namespace {

// Machine code that looks like compiled functions: prologues, moves, calls,
// tests and jumps with varying operands, epilogues, int3 padding.
void FillCode(Bytes& img, size_t at, size_t cb, bool x64, Rng& rng) {
    size_t end = at + cb, p = at;
    auto emit = [&](std::initializer_list<unsigned> bytes) {
        for (unsigned b : bytes)
            if (p < end) img[p++] = (unsigned char)b;
    };
    while (p < end) {
        if (x64)
            emit({0x48, 0x89, 0x5C, 0x24, 0x08, 0x57, 0x48, 0x83, 0xEC, 0x20});
        else
            emit({0x55, 0x8B, 0xEC, 0x83, 0xEC, 8u * (1 + rng.Below(8)), 0x53, 0x56, 0x57});
        for (int n = 4 + (int)rng.Below(24); n > 0 && p < end; n--) {
            switch (rng.Below(6)) {
                case 0: emit({0x8B, 0x45, 0x08 + 4 * rng.Below(4)}); break;
                case 1: emit({0xE8, rng.Below(256), rng.Below(256), 0xFF, 0xFF}); break;
                case 2: emit({0x85, 0xC0, 0x74, 4 + rng.Below(40)}); break;
                case 3: emit({0x68, rng.Below(256), 0x10, 0x00, 0x10}); break;
                case 4: emit({0x89, 0x45, 0xF0 + 4 * rng.Below(4)}); break;
                default: emit({0x33, 0xC0}); break;
            }
        }
        if (x64)
            emit({0x48, 0x8B, 0x5C, 0x24, 0x30, 0x48, 0x83, 0xC4, 0x20, 0x5F, 0xC3});
        else
            emit({0x5F, 0x5E, 0x5B, 0x8B, 0xE5, 0x5D, 0xC2, 4u * rng.Below(5), 0x00});
        while (p < end && (p - at) % 16) img[p++] = 0xCC;
    }
}

// Import and export names, messages and tables.
void FillReadOnlyData(Bytes& img, size_t at, size_t cb, const std::string& name, bool dll, Rng& rng) {
    static const char* const kImports[] = {
        "KERNEL32.dll", "GetProcAddress", "LoadLibraryA",  "CreateFileA",    "ReadFile",     "WriteFile",
        "CloseHandle",  "GlobalAlloc",    "GlobalFree",    "USER32.dll",     "SendMessageA", "CreateWindowExA",
        "DefWindowProcA", "GDI32.dll",    "TextOutW",      "CreateFontA",    "IMM32.dll",    "ImmGetContext",
        "ImmReleaseContext", "ADVAPI32.dll", "RegOpenKeyExA", "RegQueryValueExA"};
    static const char* const kImeExports[] = {
        "ImeInquire", "ImeConversionList", "ImeConfigure", "ImeDestroy",  "ImeEscape",
        "ImeProcessKey", "ImeSelect",      "ImeSetActiveContext", "ImeToAsciiEx", "NotifyIME",
        "ImeRegisterWord", "ImeUnregisterWord", "ImeGetRegisterWordStyle", "ImeEnumRegisterWord",
        "ImeSetCompositionString", "UIWndProc", "CompWndProc", "StatusWndProc", "CandWndProc"};
    static const char* const kMessages[] = {"智能砚舟输入平台", "词库文件损坏，请重新安装！", "请输入编码",
                                            "智能砚舟(砚舟五笔)", "设置已保存。", "vornhu4.ime"};
    Bytes part;
    Append(part, name);
    part.push_back(0);
    while (part.size() < cb) {
        switch (rng.Below(4)) {
            case 0:
                for (const char* s : kImports) Append(part, std::string(s) + '\0');
                break;
            case 1:
                if (dll)
                    for (const char* s : kImeExports) Append(part, std::string(s) + '\0');
                else
                    Append(part, std::string(kMessages[rng.Below(6)]) + '\0');
                break;
            case 2:
                Append(part, std::string(kMessages[rng.Below(6)]) + '\0');
                break;
            default:
                for (int i = 0; i < 32; i++) Append32(part, 0x10001000u + 16 * rng.Below(4096));
                break;
        }
    }
    memcpy(img.data() + at, part.data(), cb);
}

// A version block: the strings a VS_VERSIONINFO carries, in UTF-16.
void FillResources(Bytes& img, size_t at, size_t cb, const std::string& name, const char* version, Rng& rng) {
    Bytes part;
    AppendWide(part, u"VS_VERSION_INFO");
    Append32(part, 0xFEEF04BD);
    Append32(part, 0x00010000);
    Append32(part, 0x00070007);
    Append32(part, 0);
    AppendWide(part, u"StringFileInfo");
    AppendWide(part, u"080404b0");
    AppendWide(part, u"CompanyName");
    AppendWide(part, u"智能砚舟");
    AppendWide(part, u"OriginalFilename");
    AppendWideAscii(part, name);
    if (version) {
        AppendWide(part, u"FileDescription");
        Bytes text = VersionText(version);
        part.insert(part.end(), text.begin(), text.end());
        Append16(part, 0);
        AppendWide(part, u"FileVersion");
        AppendWideAscii(part, version);
    }
    AppendWide(part, u"VarFileInfo");
    AppendWide(part, u"Translation");
    Append32(part, 0x04B00804);
    // Then icon-like pixel rows.
    while (part.size() < cb) {
        unsigned char c = (unsigned char)rng.Below(256);
        for (int i = 0; i < 96; i++) part.push_back(i % 3 == 0 ? c : (unsigned char)(i * 2));
    }
    if (part.size() > cb) part.resize(cb);
    memcpy(img.data() + at, part.data(), cb);
}

}  // namespace

Bytes MakeProgramImage(const std::string& name, size_t cb, bool x64, bool dll, const char* version) {
    if (cb % 512 || cb < 4096) return Bytes();
    Rng rng(SeedOf(name));
    Bytes img(cb, 0);
    // DOS header and stub.
    img[0] = 'M';
    img[1] = 'Z';
    Put16(img, 2, 0x90);
    Put16(img, 4, 3);
    Put16(img, 8, 4);
    Put16(img, 0x0C, 0xFFFF);
    Put16(img, 0x10, 0xB8);
    Put16(img, 0x18, 0x40);
    Put32(img, 0x3C, 0x80);
    static const unsigned char kStub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                          0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    memcpy(img.data() + 0x40, kStub, sizeof(kStub));
    const char* dosText = "This program cannot be run in DOS mode.\r\r\n$";
    memcpy(img.data() + 0x4E, dosText, strlen(dosText));

    // Sections: code, read-only data, data, resources, each a multiple of 512.
    const size_t cbHeaders = 0x400;
    size_t body = cb - cbHeaders;
    size_t cbSection[4];
    cbSection[0] = body * 55 / 100 / 512 * 512;
    cbSection[1] = body * 18 / 100 / 512 * 512;
    cbSection[2] = body * 9 / 100 / 512 * 512;
    if (cbSection[2] == 0) cbSection[2] = 512;
    cbSection[3] = body - cbSection[0] - cbSection[1] - cbSection[2];
    static const char* const kNames[4] = {".text", ".rdata", ".data", ".rsrc"};
    static const uint32_t kFlags[4] = {0x60000020, 0x40000040, 0xC0000040, 0x40000040};
    size_t raw[4], rva[4];
    size_t nextRaw = cbHeaders, nextRva = 0x1000;
    for (int i = 0; i < 4; i++) {
        raw[i] = nextRaw;
        rva[i] = nextRva;
        nextRaw += cbSection[i];
        nextRva = AlignUp(nextRva + cbSection[i], 0x1000);
    }

    // PE and COFF headers.
    size_t pe = 0x80;
    memcpy(img.data() + pe, "PE\0\0", 4);
    size_t optSize = x64 ? 240 : 224;
    Put16(img, pe + 4, x64 ? 0x8664 : 0x14C);
    Put16(img, pe + 6, 4);
    Put32(img, pe + 8, 0x4D6F2A00u + (uint32_t)(SeedOf(name) & 0xFFFF));
    Put16(img, pe + 20, (uint32_t)optSize);
    Put16(img, pe + 22, (dll ? 0x2000 : 0) | (x64 ? 0x22 : 0x102));
    // Optional header.
    size_t o = pe + 24;
    Put16(img, o, x64 ? 0x20B : 0x10B);
    img[o + 2] = 9;
    Put32(img, o + 4, (uint32_t)cbSection[0]);
    Put32(img, o + 8, (uint32_t)(cbSection[1] + cbSection[2] + cbSection[3]));
    Put32(img, o + 16, (uint32_t)(rva[0] + 0x10 * rng.Below(64)));
    Put32(img, o + 20, (uint32_t)rva[0]);
    size_t w;  // offset of SectionAlignment
    if (x64) {
        uint64_t base = dll ? 0x180000000ull : 0x140000000ull;
        Put32(img, o + 24, (uint32_t)base);
        Put32(img, o + 28, (uint32_t)(base >> 32));
        w = o + 32;
    } else {
        Put32(img, o + 24, (uint32_t)rva[1]);
        Put32(img, o + 28, dll ? 0x10000000u : 0x400000u);
        w = o + 32;
    }
    Put32(img, w, 0x1000);
    Put32(img, w + 4, 0x200);
    Put16(img, w + 8, 5);        // OS 5.0
    Put16(img, w + 16, 5);       // subsystem 5.0
    Put32(img, w + 24, (uint32_t)nextRva);
    Put32(img, w + 28, (uint32_t)cbHeaders);
    Put16(img, w + 36, 2);       // Windows GUI
    Put16(img, w + 38, 0x0140);  // dynamic base, NX compatible
    size_t dirs;
    if (x64) {
        Put32(img, w + 40, 0x100000);
        Put32(img, w + 48, 0x1000);
        Put32(img, w + 56, 0x100000);
        Put32(img, w + 64, 0x1000);
        Put32(img, w + 76, 16);
        dirs = w + 80;
    } else {
        Put32(img, w + 40, 0x100000);
        Put32(img, w + 44, 0x1000);
        Put32(img, w + 48, 0x100000);
        Put32(img, w + 52, 0x1000);
        Put32(img, w + 60, 16);
        dirs = w + 64;
    }
    Put32(img, dirs + 2 * 8, (uint32_t)rva[3]);  // resource directory
    Put32(img, dirs + 2 * 8 + 4, (uint32_t)cbSection[3]);
    // Section table.
    size_t s = o + optSize;
    for (int i = 0; i < 4; i++, s += 40) {
        memcpy(img.data() + s, kNames[i], strlen(kNames[i]));
        Put32(img, s + 8, (uint32_t)cbSection[i]);
        Put32(img, s + 12, (uint32_t)rva[i]);
        Put32(img, s + 16, (uint32_t)cbSection[i]);
        Put32(img, s + 20, (uint32_t)raw[i]);
        Put32(img, s + 36, kFlags[i]);
    }

    FillCode(img, raw[0], cbSection[0], x64, rng);
    FillReadOnlyData(img, raw[1], cbSection[1], name, dll, rng);
    for (size_t i = 0; i < cbSection[2]; i += 64) Put32(img, raw[2] + i, rng.Below(4) ? 0 : rng.Next());
    FillResources(img, raw[3], cbSection[3], name, version, rng);
    return img;
}

// ---- records and archives ------------------------------------------------------------

Bytes MakeSettingsRecord(uint64_t seed) {
    // The built-in default record, then the values a shipped simplified
    // Chinese record plausibly differs in.
    Bytes r(200, 0);
    static const int kOnes[] = {9, 10, 12, 15, 19, 22, 24, 36, 41, 43, 54, 58};
    for (int at : kOnes) r[at] = 1;
    r[8] = 54;
    r[15] = 0;  // simplified characters
    r[2] = 1;
    r[5] = 9;   // candidates per page
    r[30] = 12; // font size
    Rng rng(seed);
    for (int at = 100; at < 116; at++) r[at] = (unsigned char)rng.Below(4);
    return r;
}

namespace {

struct SkinColours {
    int base[3], accent[3], light[3];
};
const SkinColours kSkins[3] = {
    {{196, 212, 228}, {58, 88, 136}, {236, 242, 250}},   // 冷色瓷面
    {{244, 204, 216}, {186, 76, 118}, {252, 236, 242}},  // 粉色瓷面
    {{255, 240, 200}, {118, 168, 228}, {255, 252, 236}}, // 小天使
};

Bytes SkinPiece(const SkinColours& c, int index, int width, int height) {
    return MakeBmp24(width, height, [&](int x, int y, unsigned char* rgb) {
        for (int k = 0; k < 3; k++) rgb[k] = (unsigned char)Lerp(c.light[k], c.base[k], y, height);
        if (y == 0 || y == height - 1 || x == 0 || x == width - 1)
            for (int k = 0; k < 3; k++) rgb[k] = (unsigned char)c.accent[k];
        // A mark per piece: a dot, a bar, a diamond ...
        int cx = width / 2, cy = height / 2;
        int dx = x > cx ? x - cx : cx - x, dy = y > cy ? y - cy : cy - y;
        bool mark = index % 3 == 0 ? dx * dx + dy * dy <= 16 : index % 3 == 1 ? dy <= 1 && dx < width / 3 : dx + dy <= 4;
        if (mark) Mix(rgb, c.accent[0], c.accent[1], c.accent[2], 200);
    });
}

// The last piece, a porcelain crackle texture: `noise` bytes of its pixels
// carry grain, which sets how far it compresses.
Bytes SkinTexture(const SkinColours& c, int height, size_t noise, uint64_t seed) {
    Bytes bmp = MakeBmp24(100, height, [&](int x, int y, unsigned char* rgb) {
        for (int k = 0; k < 3; k++) rgb[k] = (unsigned char)Lerp(c.base[k], c.light[k], x + y, 180);
    });
    Rng rng(seed);
    for (size_t i = 0; i < noise && 54 + i < bmp.size(); i++) {
        bmp[54 + i] = (unsigned char)(bmp[54 + i] - 24 + (int)rng.Below(48));
    }
    return bmp;
}

}  // namespace

Bytes MakeSkinArchive(int skin, size_t cb, std::string* error) {
    if (skin < 1 || skin > 3) {
        *error = "no such skin";
        return Bytes();
    }
    const SkinColours& c = kSkins[skin - 1];
    std::vector<PackMember> members(8);
    members[0].name = "vobmp8.voh";
    Bytes& voh = members[0].data;
    Append(voh, "VOBMP8");
    voh.push_back((unsigned char)skin);
    voh.push_back(7);
    for (int k = 0; k < 3; k++) voh.push_back((unsigned char)c.base[k]);
    for (int k = 0; k < 3; k++) voh.push_back((unsigned char)c.accent[k]);
    for (int k = 0; k < 3; k++) voh.push_back((unsigned char)c.light[k]);
    static const int kSizes[6][2] = {{20, 22}, {44, 22}, {22, 22}, {64, 22}, {18, 18}, {96, 24}};
    for (int i = 0; i < 6; i++) {
        Append16(voh, (uint32_t)kSizes[i][0]);
        Append16(voh, (uint32_t)kSizes[i][1]);
    }
    size_t texture = voh.size();  // width and height of the texture follow
    voh.resize(256, 0);
    for (int i = 0; i < 6; i++) {
        members[i + 1].name = "vobmpsx" + std::to_string(i + 1) + ".bmp";
        members[i + 1].data = SkinPiece(c, i, kSizes[i][0], kSizes[i][1]);
    }
    members[7].name = "vobmpsx7.bmp";

    // The records and the first seven streams have fixed sizes; the
    // texture's grain is chosen so that its stream fills the archive to `cb`
    // exactly.  A taller texture holds more grain: the first height that can
    // reach the size is used, and its dimensions go into vobmp8.voh.
    for (int height = 80; height <= 200; height += 40) {
        Put16(members[0].data, texture, 100);
        Put16(members[0].data, texture + 2, (uint32_t)height);
        size_t fixed = kVozHeaderBytes + 8 * kVozLegacyRecordBytes;
        for (int i = 0; i < 7; i++) fixed += Compress(members[i].data).size();
        if (cb <= fixed) break;
        size_t need = cb - fixed;
        for (uint64_t attempt = 0; attempt < 4; attempt++) {
            uint64_t seed = SeedOf("vobmpsx7.bmp") + 977 * (uint64_t)skin + attempt;
            auto size = [&](size_t noise) { return Compress(SkinTexture(c, height, noise, seed)).size(); };
            size_t lo = 0, hi = 100 * (size_t)height * 3;
            if (size(lo) > need || size(hi) < need) break;
            while (lo < hi) {  // the least grain that reaches the size
                size_t mid = (lo + hi) / 2;
                if (size(mid) < need) lo = mid + 1;
                else hi = mid;
            }
            for (size_t noise = lo > 64 ? lo - 64 : 0; noise < lo + 64; noise++) {
                if (size(noise) != need) continue;
                members[7].data = SkinTexture(c, height, noise, seed);
                Bytes out;
                if (!BuildArchive(members, true, &out, error)) return Bytes();
                if (out.size() == cb) return out;
            }
        }
    }
    *error = "no texture grain gives a skin archive of exactly " + std::to_string(cb) + " bytes";
    return Bytes();
}

namespace {

Bytes MakeSmallArchive(uint64_t seed) {
    std::vector<PackMember> members(3);
    members[0].name = "qxfc.txt";
    members[0].data = MakeGbkText(3000, seed, 2);
    members[1].name = "qxfcbz.voh";
    members[1].data = MakeBinaryTable(1024, seed + 1);
    members[2].name = "qxfcsm.txt";
    members[2].data = MakeGbkText(600, seed + 2, 1);
    Bytes out;
    std::string error;
    BuildArchive(members, false, &out, &error);
    return out;
}

// Sizes of the members without a shipped size, in bytes (pictures are sized
// by their dimensions instead).
struct OtherMember {
    const char* name;
    uint32_t bytes;
    int width, height;
};
const OtherMember kOthers[] = {
    {"big5hz.ov1", 47880, 0, 0},    {"blank.jpg", 1532, 32, 32},     {"cfontset.voh", 2048, 0, 0},
    {"voal01.jpg", 24310, 320, 240}, {"voal02.jpg", 21877, 320, 240}, {"vobj01.jpg", 35112, 400, 300},
    {"vobyy0.bmp", 0, 64, 48},      {"vobyy1.bmp", 0, 64, 48},       {"vodwhz0.voh", 61440, 0, 0},
    {"vorn1.wav", 5120, 0, 0},      {"vorn2.wav", 6400, 0, 0},       {"vorn3.wav", 7680, 0, 0},
    {"vorn4.wav", 8960, 0, 0},      {"vorn5.wav", 10240, 0, 0},      {"vorn6.wav", 12800, 0, 0},
    {"vorn7.wav", 16000, 0, 0},     {"vorndhz.voh", 36864, 0, 0},    {"vorndwdw.txt", 8192, 0, 0},
    {"vorndzk0.voh", 98304, 0, 0},  {"vornjfk.ov1", 20480, 0, 0},    {"vornpymb.ov1", 12000, 0, 0},
    {"vornskfh.voh", 4096, 0, 0},   {"vornszsj.voh", 200, 0, 0},     {"vornynhz.txt", 6000, 0, 0},
    {"vornzdfh.voh", 3072, 0, 0},   {"vornzdym.voh", 45056, 0, 0},   {"vofcz.txt", 30000, 0, 0},
    {"vogbkbh.voh", 43008, 0, 0},   {"vohzbs.voh", 41000, 0, 0},     {"vokeyyx1.wav", 3000, 0, 0},
    {"vopyjm1.txt", 9000, 0, 0},    {"vopykey0.txt", 1500, 0, 0},    {"vopykey1.txt", 1800, 0, 0},
    {"vopykey2.txt", 2100, 0, 0},   {"vopykey3.txt", 2400, 0, 0},    {"vopykey4.txt", 2700, 0, 0},
    {"vopykey5.txt", 3000, 0, 0},   {"vopyltwj.voh", 24576, 0, 0},   {"vopyzdfy.txt", 5500, 0, 0},
    {"vopyzdym.voh", 52000, 0, 0},  {"vospeeke.txt", 2400, 0, 0},    {"vospk1.txt", 3000, 0, 0},
    {"vospk2.txt", 4000, 0, 0},     {"vospk3.txt", 5500, 0, 0},      {"vospk4.txt", 7000, 0, 0},
    {"voszsj01.voh", 200, 0, 0},    {"voszsj02.voh", 200, 0, 0},     {"voszsj03.voh", 200, 0, 0},
    {"voszsj04.voh", 200, 0, 0},    {"voszsj44.voh", 200, 0, 0},     {"vowbjm.txt", 40000, 0, 0},
    {"vowbpy.txt", 70000, 0, 0},    {"voxz0.bmp", 0, 32, 32},        {"voxz1.bmp", 0, 32, 32},
    {"VOTAVK41.BMP", 0, 120, 40},   {"votavk61.bmp", 0, 120, 40},    {"cwb.ov1", 65536, 0, 0},
    {"cwbzlcz1.txt", 12000, 0, 0},  {"ftvozdym.txt", 22000, 0, 0},   {"ftpyzdym.txt", 26000, 0, 0},
    {"ggbhver.dat", 64, 0, 0},      {"jfb5hzb.txt", 18000, 0, 0},    {"jfhzb.txt", 16000, 0, 0},
    {"nbyy2.bmp", 0, 80, 60},       {"pyqspmb.txt", 11000, 0, 0},    {"qxfc.voz", 0, 0, 0},
    {"softkey.txt", 3600, 0, 0},    {"uwb.voh", 14000, 0, 0},        {"wb1.swf", 28000, 0, 0},
    {"wuxin1.bmp", 0, 100, 75},
};

bool EndsWith(const std::string& s, const char* tail) {
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

Bytes MakeSampleMember(const std::string& name, std::string* error) {
    uint64_t seed = SeedOf(name);
    struct Program {
        const char* name;
        bool x64, dll;
        const char* version;
    };
    static const Program kPrograms[] = {
        {"vornhu4.ime", false, true, "7.7"}, {"vornhu64.ime", true, true, "7.7"},
        {"vorn320.ime", false, true, "6.3"}, {"vorn321.ime", false, true, "6.7"},
        {"vorn640.ime", true, true, "6.3"},  {"vorn641.ime", true, true, "6.7"},
        {"vorndel.exe", false, false, NULL}, {"voqdel64.exe", true, false, NULL},
        {"vorntavk.exe", false, false, NULL}, {"vorntav6.exe", false, false, NULL},
    };
    for (const Program& p : kPrograms)
        if (name == p.name) return MakeProgramImage(name, ShippedBytes(p.name), p.x64, p.dll, p.version);

    if (name == "vorncyzk.bak") return MakePhraseList(587902, seed, 80132, 86188017);
    if (name == "vornpyck.bak") return MakePhraseList(1833364, seed);
    if (name == "voszsj43.voh") return MakeSettingsRecord(seed);
    if (name == "tavk1.bmp") return MakeSplashBitmap();
    if (name == "冷色瓷面.voz") return MakeSkinArchive(1, ShippedBytes(name.c_str()), error);
    if (name == "粉色瓷面.voz") return MakeSkinArchive(2, ShippedBytes(name.c_str()), error);
    if (name == "小天使.voz") return MakeSkinArchive(3, ShippedBytes(name.c_str()), error);
    if (name == "qxfc.voz") return MakeSmallArchive(seed);

    for (const OtherMember& o : kOthers) {
        if (name != o.name) continue;
        if (EndsWith(name, ".bmp") || EndsWith(name, ".BMP")) return MakeSmallBitmap(o.width, o.height, seed);
        if (EndsWith(name, ".jpg")) return MakeJpeg(o.bytes, seed, o.width, o.height);
        if (EndsWith(name, ".wav")) return MakeWave(o.bytes, seed);
        if (EndsWith(name, ".swf")) return MakeFlash(o.bytes, seed);
        if (EndsWith(name, ".txt")) return MakeGbkText(o.bytes, seed, (int)(seed % 3));
        if (name.compare(0, 6, "voszsj") == 0 || name == "vornszsj.voh") return MakeSettingsRecord(seed);
        if (name == "ggbhver.dat") {
            Bytes b;
            Append(b, "VORNVER=7.7\r\nVORNDATE=2011-06-01\r\nVORNBH=7700\r\n");
            b.resize(o.bytes, ' ');
            return b;
        }
        return MakeBinaryTable(o.bytes, seed);
    }
    *error = Printable(name) + ": not a payload member name";
    return Bytes();
}

}  // namespace tool
