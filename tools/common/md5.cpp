// MD5 (RFC 1321) for the build host: the tools and the simulated advapi32.
#include "tools/common/md5.h"

#include <stdint.h>
#include <string.h>


namespace {
struct Md5State {
    uint32_t a, b, c, d;
};
const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const int kS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 5, 9,  14, 20, 5, 9,
                    14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                    4, 11, 16, 23, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

void Md5Block(Md5State& s, const unsigned char* p) {
    uint32_t m[16];
    for (int i = 0; i < 16; i++) m[i] = p[4 * i] | (p[4 * i + 1] << 8) | (p[4 * i + 2] << 16) | ((uint32_t)p[4 * i + 3] << 24);
    uint32_t a = s.a, b = s.b, c = s.c, d = s.d;
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t t = d;
        d = c;
        c = b;
        uint32_t x = a + f + kT[i] + m[g];
        b = b + ((x << kS[i]) | (x >> (32 - kS[i])));
        a = t;
    }
    s.a += a;
    s.b += b;
    s.c += c;
    s.d += d;
}
}  // namespace

void Md5Digest(const void* data, size_t length, unsigned char digest[16]) {
    Md5State s = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const unsigned char* p = (const unsigned char*)data;
    size_t n = length;
    while (n >= 64) {
        Md5Block(s, p);
        p += 64;
        n -= 64;
    }
    unsigned char tail[128] = {0};
    memcpy(tail, p, n);
    tail[n] = 0x80;
    size_t total = n < 56 ? 64 : 128;
    uint64_t bits = (uint64_t)length * 8;
    for (int i = 0; i < 8; i++) tail[total - 8 + i] = (unsigned char)(bits >> (8 * i));
    Md5Block(s, tail);
    if (total == 128) Md5Block(s, tail + 64);
    uint32_t w[4] = {s.a, s.b, s.c, s.d};
    for (int i = 0; i < 16; i++) digest[i] = (unsigned char)(w[i / 4] >> (8 * (i % 4)));
}

