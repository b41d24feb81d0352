// MD5 (RFC 1321) on the build host.  The product itself uses advapi32's.
#pragma once

#include <stddef.h>

void Md5Digest(const void* data, size_t length, unsigned char digest[16]);
