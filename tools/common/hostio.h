// Files and names on the build host, for the archive tools.  Host names are
// UTF-8; member names inside archives are GBK.
#pragma once

#include <string>
#include <vector>

namespace tool {

typedef std::vector<unsigned char> Bytes;

// Reads a whole regular file; false with a one-line reason.
bool ReadWholeFile(const std::string& path, Bytes* out, std::string* error);
// Writes `data` to a temporary file beside `path` and renames it over
// `path`, so a failure leaves no partial file.
// Writes all of `data` to `fd` and closes it; `path` names it in the error.
bool WriteAndClose(int fd, const Bytes& data, const std::string& path, std::string* error);
bool WriteFileAtomically(const std::string& path, const Bytes& data, std::string* error);

// Name conversions through iconv; false when a byte sequence has no
// counterpart.
bool Utf8ToGbk(const std::string& utf8, std::string* gbk);
bool GbkToUtf8(const std::string& gbk, std::string* utf8);
// A GBK name for messages: UTF-8 when it converts, "\xNN" escapes otherwise.
std::string Printable(const std::string& gbk);

struct DirEntry {
    std::string name;  // host (UTF-8) name
    bool regular;      // a regular file (symbolic links followed)
};
// The entries of one directory, without "." and "..", sorted by name.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out, std::string* error);
bool IsDirectory(const std::string& path);
// The last component of a host path.
std::string BaseName(const std::string& path);

}  // namespace tool
