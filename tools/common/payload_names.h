// The member names the setup program looks for in its payload, with the
// expanded sizes of the shipped files where they are known.  One list for
// the tools that build payloads (voz pack-payload, mkpayload).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tool {

struct PayloadName {
    const char* name;         // GBK bytes, as stored in the archive
    uint32_t shippedBytes;    // expanded size of the shipped file; 0 when it has no role of its own
};

enum { kPayloadNameCount = 88 };
extern const PayloadName kPayloadNames[kPayloadNameCount];

// The largest member the setup program can expand: its 2 MiB work buffer
// less the 100-byte name area and the 44 bytes kept for the digest.
const size_t kMaxPayloadMemberBytes = 2097152 - 100 - 44;

// The shipped size of `name` (0 when it has none or is not a payload name).
uint32_t ShippedBytes(const char* name);
bool IsPayloadName(const char* name);

}  // namespace tool
