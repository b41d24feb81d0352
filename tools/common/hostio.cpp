// Host file access and GBK/UTF-8 conversion for the archive tools.
#include "tools/common/hostio.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace tool {

bool ReadWholeFile(const std::string& path, Bytes* out, std::string* error) {
    out->clear();
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        close(fd);
        return false;
    }
    unsigned char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = path + ": " + strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        out->insert(out->end(), chunk, chunk + n);
    }
    close(fd);
    return true;
}

bool WriteAndClose(int fd, const Bytes& data, const std::string& path, std::string* error) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = path + ": " + strerror(errno);
            close(fd);
            return false;
        }
        done += (size_t)n;
    }
    if (close(fd) != 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const Bytes& data, std::string* error) {
    std::string temp = path + ".tmp" + std::to_string((long)getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *error = temp + ": " + strerror(errno);
        return false;
    }
    if (!WriteAndClose(fd, data, temp, error)) {
        unlink(temp.c_str());
        return false;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        *error = path + ": " + strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

static bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
    out->clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    std::string buffer(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &buffer[0];
    size_t dstLeft = buffer.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = r != (size_t)-1 && srcLeft == 0 && iconv(cd, NULL, NULL, &dst, &dstLeft) != (size_t)-1;
    iconv_close(cd);
    if (!ok) return false;
    out->assign(buffer.data(), buffer.size() - dstLeft);
    return true;
}

bool Utf8ToGbk(const std::string& utf8, std::string* gbk) { return Convert("GBK", "UTF-8", utf8, gbk); }
bool GbkToUtf8(const std::string& gbk, std::string* utf8) { return Convert("UTF-8", "GBK", gbk, utf8); }

std::string Printable(const std::string& gbk) {
    std::string utf8;
    bool plain = true;
    for (unsigned char c : gbk)
        if (c < 0x20 || c == 0x7F) plain = false;
    if (plain && GbkToUtf8(gbk, &utf8)) return utf8;
    std::string out;
    for (unsigned char c : gbk) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += (char)c;
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* out, std::string* error) {
    out->clear();
    DIR* d = opendir(dir.c_str());
    if (!d) {
        *error = dir + ": " + strerror(errno);
        return false;
    }
    while (struct dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        struct stat st;
        std::string path = dir + "/" + e->d_name;
        DirEntry entry;
        entry.name = e->d_name;
        entry.regular = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        out->push_back(entry);
    }
    closedir(d);
    std::sort(out->begin(), out->end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return true;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string BaseName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t cut = p.rfind('/');
    return cut == std::string::npos ? p : p.substr(cut + 1);
}

}  // namespace tool
