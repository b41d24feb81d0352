// Host-side archive building and checking (voz, mkpayload).
#include "tools/common/vozpack.h"

#include <string.h>
#include <zlib.h>

#include "tools/common/md5.h"

namespace tool {

Bytes Compress(const Bytes& data) {
    uLongf cb = compressBound(data.size());
    Bytes out(cb);
    if (compress(out.data(), &cb, data.data(), data.size()) != Z_OK) return Bytes();
    out.resize(cb);
    return out;
}

std::string Md5Hex(const unsigned char* data, size_t length) {
    unsigned char digest[16];
    Md5Digest(data, length, digest);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

bool BuildArchive(const std::vector<PackMember>& members, bool legacy, Bytes* out, std::string* error) {
    out->assign(kVozHeaderBytes, 0);
    for (const PackMember& m : members) {
        if (!VozIsBareName(m.name.c_str())) {
            *error = Printable(m.name) + ": not a bare file name of 1 to 12 bytes";
            return false;
        }
        Bytes z = Compress(m.data);
        if (z.empty()) {
            *error = Printable(m.name) + ": compression failed";
            return false;
        }
        size_t at = out->size();
        size_t cbRecord = legacy ? kVozLegacyRecordBytes : kVozRecordBytes;
        if (at + cbRecord + z.size() > 0xFFFFFFFFu) {
            *error = "archive would exceed 4 GiB";
            return false;
        }
        out->resize(at + cbRecord);
        if (legacy) {
            VozWriteLegacyRecord(out->data() + at, m.name.c_str(), (uint32_t)z.size());
        } else {
            std::string digest = Md5Hex(m.data);
            VozWriteRecord(out->data() + at, m.name.c_str(), digest.c_str(), (uint32_t)z.size());
        }
        out->insert(out->end(), z.begin(), z.end());
    }
    VozWriteHeader(out->data(), legacy, (uint32_t)out->size(), (uint32_t)members.size());
    return true;
}

static bool HasGbk(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

static unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c; }

bool PayloadOrderLess(const std::string& a, const std::string& b) {
    bool ga = HasGbk(a), gb = HasGbk(b);
    if (ga != gb) return gb;
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++) {
        unsigned char x = Fold((unsigned char)a[i]), y = Fold((unsigned char)b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // names that differ only in case: a fixed order all the same
}

bool SameNameOnWindows(const std::string& a, const std::string& b) { return WindowsNameKey(a) == WindowsNameKey(b); }

std::string WindowsNameKey(const std::string& gbkName) {
    // Trailing dots and spaces are dropped by Windows; neither byte can be a
    // GBK trail byte (those are 0x40 and above).
    std::string name = gbkName;
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    std::string key;
    for (size_t i = 0; i < name.size(); i++) {
        unsigned char c = (unsigned char)name[i];
        if (c >= 0x81 && c <= 0xFE && i + 1 < name.size()) {
            key += name[i];
            key += name[++i];  // a trail byte is no letter
        } else {
            key += (char)((c >= 'a' && c <= 'z') ? c - 32 : c);
        }
    }
    return key;
}

ExpandResult Expand(const unsigned char* compressed, size_t cbCompressed, size_t capacity, Bytes* out) {
    out->clear();
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (inflateInit(&z) != Z_OK) return kExpandCorrupt;
    unsigned char chunk[65536];
    size_t left = cbCompressed;
    const unsigned char* next = compressed;
    ExpandResult result = kExpandTruncated;
    for (;;) {
        if (z.avail_in == 0 && left) {
            uInt step = left > 0x40000000u ? 0x40000000u : (uInt)left;
            z.next_in = const_cast<unsigned char*>(next);
            z.avail_in = step;
            next += step;
            left -= step;
        }
        z.next_out = chunk;
        z.avail_out = sizeof(chunk);
        int rc = inflate(&z, Z_NO_FLUSH);
        size_t produced = sizeof(chunk) - z.avail_out;
        if (out->size() + produced > capacity) {
            result = kExpandTooLarge;
            break;
        }
        out->insert(out->end(), chunk, chunk + produced);
        if (rc == Z_STREAM_END) {
            result = kExpandOk;
            break;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && left == 0) break;  // input ran out first
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            result = kExpandCorrupt;
            break;
        }
    }
    inflateEnd(&z);
    if (result != kExpandOk) out->clear();
    return result;
}

const char* ExpandError(ExpandResult r) {
    switch (r) {
        case kExpandOk: return "ok";
        case kExpandCorrupt: return "corrupt compressed data";
        case kExpandTruncated: return "compressed data ends early";
        case kExpandTooLarge: return "expands beyond the limit";
    }
    return "?";
}

std::string WalkBreakReason(const MemberIterator& it, std::string* name) {
    name->clear();
    size_t cbRecord = it.legacy ? kVozLegacyRecordBytes : kVozRecordBytes;
    size_t cbName = it.legacy ? kVozLegacyNameField : kVozNameField;
    size_t remaining = it.offset <= it.cbArchive ? it.cbArchive - it.offset : 0;
    if (remaining < cbRecord) {
        return remaining == 0 ? "missing: the archive ends before it (member count too high?)"
                              : "record past the end of the archive";
    }
    const unsigned char* record = it.archive + it.offset;
    if (record[0] != 'V' || record[1] != 'F') return "bad record marker";
    const void* end = memchr(record + 2, 0, cbName);
    if (!end) return "name without terminator";
    name->assign((const char*)record + 2);
    return "compressed data past the end of the archive";
}

}  // namespace tool
