// Walking and encoding VOZ archives.  The archive bytes are untrusted (the
// backup archive comes from disk, any archive may be damaged): every field is
// decoded explicitly and checked against the bytes that remain.
#include "payload/voz.h"

#include <string.h>
#include <zlib.h>

uint32_t VozLe32(const unsigned char* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void VozPutLe32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

bool VozBegin(MemberIterator* it, const unsigned char* archive, size_t cbArchive, VozMarkerRule rule) {
    memset(it, 0, sizeof(*it));
    if (!archive || cbArchive < kVozHeaderBytes) return false;
    it->archive = archive;
    it->cbArchive = cbArchive;
    it->legacy = archive[1] != '0';
    it->count = VozLe32(archive + 6);
    it->offset = kVozHeaderBytes;
    it->rule = rule;
    return true;
}

static bool MarkerEnds(const unsigned char* record, VozMarkerRule rule) {
    if (rule == kMarkerExact) return record[0] != 'V' || record[1] != 'F';
    return record[0] != 'V' && record[1] != 'F';
}

bool VozNext(MemberIterator* it, VozMember* member) {
    if (!it->archive || it->next >= it->count) return false;
    size_t cbRecord = it->legacy ? kVozLegacyRecordBytes : kVozRecordBytes;
    size_t cbName = it->legacy ? kVozLegacyNameField : kVozNameField;
    size_t remaining = it->offset <= it->cbArchive ? it->cbArchive - it->offset : 0;
    if (remaining < cbRecord) {
        it->broken = true;
        return false;
    }
    const unsigned char* record = it->archive + it->offset;
    if (MarkerEnds(record, it->rule) || !memchr(record + 2, 0, cbName)) {
        it->broken = true;
        return false;
    }
    uint32_t cbCompressed = VozLe32(record + (it->legacy ? 16 : 52));
    if (cbCompressed > remaining - cbRecord) {
        it->broken = true;
        return false;
    }
    memset(member, 0, sizeof(*member));
    member->record = record;
    member->name = (const char*)record + 2;
    // A digest field without its terminator compares unequal to every
    // computed digest; it is still read only inside its field.
    member->digest = it->legacy ? NULL : (const char*)record + 18;
    member->cbCompressed = cbCompressed;
    member->compressed = record + cbRecord;
    member->index = it->next;
    it->next++;
    it->offset += cbRecord + cbCompressed;
    return true;
}

size_t FindMember(const unsigned char* archive, size_t cbArchive, const char* name, unsigned char* output,
                  size_t cbOutput) {
    if (!archive || !output || cbOutput < 2) return 0;
    output[0] = output[1] = 0;
    MemberIterator it;
    VozMember member;
    if (!VozBegin(&it, archive, cbArchive, kMarkerLenient)) return 0;
    while (VozNext(&it, &member)) {
        if (strcmp(member.name, name) != 0) continue;
        if (member.cbCompressed == 0) return 0;
        uLongf cbOut = (uLongf)cbOutput;
        if (uncompress(output, &cbOut, member.compressed, member.cbCompressed) != Z_OK) {
            // uncompress leaves what it expanded before failing; a caller
            // that checks the first bytes ("BM") must not see a torn member.
            output[0] = output[1] = 0;
            return 0;
        }
        return (size_t)cbOut;
    }
    return 0;
}

void VozWriteHeader(unsigned char header[kVozHeaderBytes], bool legacy, uint32_t cbTotal, uint32_t count) {
    header[0] = 'V';
    header[1] = legacy ? 'O' : '0';
    VozPutLe32(header + 2, cbTotal);
    VozPutLe32(header + 6, count);
}

void VozWriteRecord(unsigned char record[kVozRecordBytes], const char* name, const char digest[32],
                    uint32_t cbCompressed) {
    memset(record, 0, kVozRecordBytes);
    record[0] = 'V';
    record[1] = 'F';
    size_t n = strlen(name);
    memcpy(record + 2, name, n > (size_t)kVozMaxName ? (size_t)kVozMaxName : n);
    memcpy(record + 18, digest, 32);
    VozPutLe32(record + 52, cbCompressed);
}

void VozWriteLegacyRecord(unsigned char record[kVozLegacyRecordBytes], const char* name, uint32_t cbCompressed) {
    // The shipped skin archives hold 0xCC after the name's terminator.
    memset(record, 0xCC, kVozLegacyRecordBytes);
    record[0] = 'V';
    record[1] = 'F';
    size_t n = strlen(name);
    if (n > kVozMaxName) n = kVozMaxName;
    memcpy(record + 2, name, n);
    record[2 + n] = 0;
    VozPutLe32(record + 16, cbCompressed);
}

bool VozIsBareName(const char* name) {
    size_t n = name ? strlen(name) : 0;
    if (n == 0 || n > kVozMaxName) return false;
    // Windows drops trailing dots and spaces: "..", "..." or " " would name the directory.
    if (strspn(name, ". ") == n) return false;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)name[i];
        // GBK: a lead byte's partner may be any byte from 0x40 up, "\" included.
        if (c >= 0x81 && c <= 0xFE && i + 1 < n) {
            i++;
            continue;
        }
        if (c == '\\' || c == '/' || c == ':' || c < 0x20 || strchr("*?\"<>|", c)) return false;
    }
    return true;
}

bool VozIsDeviceName(const char* name) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    char stem[8];
    // Windows ignores what follows a dot or colon, and trailing spaces.
    size_t n = strcspn(name, ".:");
    while (n > 0 && name[n - 1] == ' ') n--;
    if (n < 3 || n > 4) return false;
    for (size_t i = 0; i < n; i++) {
        char c = name[i];
        stem[i] = (c >= 'a' && c <= 'z') ? (char)(c - 32) : c;
    }
    stem[n] = 0;
    for (size_t i = 0; i < sizeof(kDevices) / sizeof(kDevices[0]); i++)
        if (strcmp(stem, kDevices[i]) == 0) return true;
    return n == 4 && (strncmp(stem, "COM", 3) == 0 || strncmp(stem, "LPT", 3) == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

bool VozIsMemberName(const char* name) { return VozIsBareName(name) && !VozIsDeviceName(name); }
