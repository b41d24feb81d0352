// Small VOZ archives built in memory for the payload tests, and a sample
// payload with every member the placement looks for.  Narrow literals in the
// tests are GBK, as in the product: they share its character-set flags.
#pragma once

#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "payload/voz.h"
#include "sim/machine.h"

namespace testvoz {

struct Member {
    std::string name;  // GBK bytes
    std::string data;
    std::string digest;  // empty: the correct upper-case digest
};

inline std::string Md5Hex(const std::string& data) {
    unsigned char d[16];
    sim::Md5(data.data(), data.size(), d);
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : d) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

inline std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return s;
}

inline std::string Compress(const std::string& data) {
    uLongf cb = compressBound((uLong)data.size());
    std::string out(cb, '\0');
    compress((Bytef*)&out[0], &cb, (const Bytef*)data.data(), (uLong)data.size());
    out.resize(cb);
    return out;
}

// A current-format archive (or a legacy one, without digests).
inline std::string Build(const std::vector<Member>& members, bool legacy = false) {
    std::string body;
    for (const Member& m : members) {
        std::string z = Compress(m.data);
        if (legacy) {
            unsigned char rec[kVozLegacyRecordBytes];
            VozWriteLegacyRecord(rec, m.name.c_str(), (uint32_t)z.size());
            body.append((const char*)rec, sizeof(rec));
        } else {
            std::string digest = m.digest.empty() ? Md5Hex(m.data) : m.digest;
            unsigned char rec[kVozRecordBytes];
            VozWriteRecord(rec, m.name.c_str(), digest.c_str(), (uint32_t)z.size());
            body.append((const char*)rec, sizeof(rec));
        }
        body += z;
    }
    unsigned char header[kVozHeaderBytes];
    VozWriteHeader(header, legacy, (uint32_t)(kVozHeaderBytes + body.size()), (uint32_t)members.size());
    return std::string((const char*)header, sizeof(header)) + body;
}

// "智能砚舟输入平台" + `version` (e.g. "  6.3") as UTF-16LE bytes.
inline std::string VersionText(const std::string& version) {
    std::u16string w = u"智能砚舟输入平台";
    for (char c : version) w += (char16_t)(unsigned char)c;
    std::string out;
    for (char16_t c : w) {
        out += (char)(c & 0xFF);
        out += (char)(c >> 8);
    }
    return out;
}

// `n` bytes that do not compress.
inline std::string Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = (char)rng();
    return s;
}

// A GBK phrase list of `words` two-character words, each followed by "; ".
inline std::string PhraseList(int words) {
    std::string out;
    for (int i = 0; i < words; i++) {
        out += (char)(0xB0 + i % 40);
        out += (char)(0xA1 + i % 90);
        out += (char)(0xC0 + i % 30);
        out += (char)(0xA1 + (i * 7) % 90);
        out += "; ";
    }
    return out;
}

// Every member the placement looks for; contents name the member so tests
// can see which file went where.
inline std::vector<Member> SampleMembers() {
    std::string pad(300, 'x');
    return {
        {"setupw64.exe", "MZ setupw64 " + VersionText("  6.7") + pad, ""},
        {"voqdel64.exe", "MZ voqdel64", ""},
        {"vorn320.ime", "stub320 " + VersionText("  6.3") + pad, ""},
        {"vorn321.ime", "stub321 " + VersionText("  6.3") + pad, ""},
        {"vorn640.ime", "stub640 " + VersionText("  6.3") + pad, ""},
        {"vorn641.ime", "stub641 " + VersionText("  6.3") + pad, ""},
        {"vorncyzk.bak", PhraseList(50), ""},
        {"vorndel.exe", "MZ vorndel", ""},
        {"vornhu4.ime", "full ime32", ""},
        {"vornhu64.ime", "full ime64", ""},
        {"vornpyck.bak", "pinyin phrases", ""},
        {"vorntav6.exe", "companion vista", ""},
        {"vorntavk.exe", "companion xp", ""},
        {"voszsj43.voh", std::string(200, '\0'), ""},
    };
}

inline std::string Le32(uint32_t v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; i++) out[i] = (char)(v >> (8 * i));
    return out;
}

// A well-formed phrase list (every word two or more characters, each
// followed by "; ") with the trailer the input method expects.
inline std::string Trailed(const std::string& list) {
    uint32_t sum = 0, words = 0;
    for (size_t i = 0; i < list.size(); i++) {
        if (list[i] == ';') {
            words++;
            i++;  // the space
            continue;
        }
        sum += (unsigned char)list[i];
    }
    return list + "VORN" + Le32(sum) + Le32(words);
}

// What the unpacked file of `m` holds.
inline std::string ExpectedFile(const Member& m) {
    return m.name == "vorncyzk.bak" ? Trailed(m.data) : m.data;
}

}  // namespace testvoz
