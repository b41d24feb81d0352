// MD5 (RFC 1321) on the build host, for the tools and the simulated
// advapi32.  The product itself uses advapi32's.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The same layout as advapi32's MD5_CTX up to its digest field.
struct Md5State {
    uint32_t count[2];  // bits, low word first
    uint32_t state[4];
    unsigned char buffer[64];
};

void Md5Init(Md5State* s);
void Md5Update(Md5State* s, const void* data, size_t length);
void Md5Final(Md5State* s, unsigned char digest[16]);

void Md5Digest(const void* data, size_t length, unsigned char digest[16]);
