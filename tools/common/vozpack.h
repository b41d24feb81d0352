// Building and checking VOZ archives on the build host: the code the voz
// tool and the payload generator share.
#pragma once

#include <string>
#include <vector>

#include "payload/voz.h"
#include "tools/common/hostio.h"

namespace tool {

struct PackMember {
    std::string name;  // GBK
    Bytes data;        // expanded bytes
};

// zlib's compress at the default level, as the setup program writes.
Bytes Compress(const Bytes& data);
// 32 upper-case hexadecimal MD5 characters.
std::string Md5Hex(const unsigned char* data, size_t length);
inline std::string Md5Hex(const Bytes& data) { return Md5Hex(data.data(), data.size()); }

// Header, then each member's record and compressed bytes in the given order:
// current format (56-byte records with digest) or legacy ("O", 20-byte
// records, 0xCC after the name).  False when a name is not a bare name of at
// most 12 bytes, or the archive would outgrow its 32-bit lengths.
bool BuildArchive(const std::vector<PackMember>& members, bool legacy, Bytes* out, std::string* error);

// The payload's stored order: by name without regard to ASCII letter case,
// names with GBK bytes after all plain ASCII names.
bool PayloadOrderLess(const std::string& a, const std::string& b);
// One file on Windows: equal without regard to ASCII letter case (GBK
// characters as they are) and to trailing dots and spaces.
bool SameNameOnWindows(const std::string& a, const std::string& b);
// The form in which two names that are one file on Windows are equal.
std::string WindowsNameKey(const std::string& gbkName);

enum ExpandResult { kExpandOk, kExpandCorrupt, kExpandTruncated, kExpandTooLarge };
// Expands one zlib stream as uncompress does into a buffer of `capacity`
// bytes: ok once the stream ends; bytes after its end are ignored.
ExpandResult Expand(const unsigned char* compressed, size_t cbCompressed, size_t capacity, Bytes* out);
const char* ExpandError(ExpandResult r);

// Why a walk ended before its member count: "record past the end of the
// archive", "bad record marker", ...; `name` receives the member's name
// when the record holds a terminated one.
std::string WalkBreakReason(const MemberIterator& it, std::string* name);

}  // namespace tool
