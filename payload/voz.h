// The VOZ archive format: a 10-byte header and members, each a fixed-size
// record followed by the member's zlib stream.  Pure byte handling, shared by
// the setup program and the host tools (voz, mkpayload).
//
//   header   0 "V"  1 format ("0" current, anything else legacy)
//            2 u32 total length  6 u32 member count
//   current  0 "VF"  2 name[16]  18 digest[33] (32 upper-case hex + 0)
//            51 reserved  52 u32 compressed length  -> 56 bytes
//   legacy   0 "VF"  2 name[14]  16 u32 compressed length -> 20 bytes
//
// Every offset and length is checked against the bytes the archive is known
// to hold; a walk that would leave them ends.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    kVozHeaderBytes = 10,
    kVozRecordBytes = 56,
    kVozLegacyRecordBytes = 20,
    kVozNameField = 16,
    kVozLegacyNameField = 14,
    kVozMaxName = 12,     // bytes before the terminator
    kVozDigestField = 33,
    // The largest member the backup packs, and so the largest the restore
    // expands: the file and its compressed form each stay within 31 bits.
    kVozMaxMemberBytes = 0x7FFF0000 / 2,
};

// How strictly a walk treats a record marker: the extraction and
// verification walks stop unless it is exactly "VF"; the member lookup stops
// only when neither byte matches.
enum VozMarkerRule { kMarkerExact, kMarkerLenient };

struct VozMember {
    const unsigned char* record;
    const char* name;       // inside the record; terminated within its field
    const char* digest;     // null in the legacy format
    uint32_t cbCompressed;
    const unsigned char* compressed;
    uint32_t index;
};

struct MemberIterator {
    const unsigned char* archive;
    size_t cbArchive;       // bytes known to be readable from `archive`
    bool legacy;
    uint32_t count;         // member count from the header
    uint32_t next;          // index of the next member
    size_t offset;          // offset of the next record
    VozMarkerRule rule;
    bool broken;            // the walk ended before `count` members
};

uint32_t VozLe32(const unsigned char* p);
void VozPutLe32(unsigned char* p, uint32_t v);

// Starts a walk; false when the bytes cannot hold a header.
bool VozBegin(MemberIterator* it, const unsigned char* archive, size_t cbArchive, VozMarkerRule rule);
// The next member, or false at the end of the walk (count reached, broken
// marker, record or data past the end, name without its terminator).
bool VozNext(MemberIterator* it, VozMember* member);

// Looks `name` up (exact bytes) and expands it into `output`; the first two
// output bytes are zeroed first.  Returns the expanded length, 0 when absent,
// empty or not expandable.
size_t FindMember(const unsigned char* archive, size_t cbArchive, const char* name, unsigned char* output,
                  size_t cbOutput);

// Record encoders for writers.
void VozWriteHeader(unsigned char header[kVozHeaderBytes], bool legacy, uint32_t cbTotal, uint32_t count);
void VozWriteRecord(unsigned char record[kVozRecordBytes], const char* name, const char digest[32],
                    uint32_t cbCompressed);
void VozWriteLegacyRecord(unsigned char record[kVozLegacyRecordBytes], const char* name, uint32_t cbCompressed);

// True for a bare file name of 1..12 bytes that is safe to create in a
// directory: no "\", "/" or ":", not "." or "..".
bool VozIsBareName(const char* name);
// True for a name Windows opens as a device whatever the directory: CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, with any extension or trailing spaces.
bool VozIsDeviceName(const char* name);
// The setup program's rule for a member it may write: bare, not a device.
bool VozIsMemberName(const char* name);
