// The machine object: configuration helpers, the file and key trees seen
// from tests, text conversions and MD5.
#include "sim/machine.h"

#include "tools/common/md5.h"

#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <stdexcept>

namespace sim {

namespace {
Machine* g_current = nullptr;

std::u16string FromLE(const std::string& s) {
    std::u16string w(s.size() / 2, u'\0');
    for (size_t i = 0; i < w.size(); i++) w[i] = (char16_t)((unsigned char)s[2 * i] | ((unsigned char)s[2 * i + 1] << 8));
    return w;
}
std::string ToLE(const std::u16string& w) {
    std::string s(w.size() * 2, '\0');
    for (size_t i = 0; i < w.size(); i++) {
        s[2 * i] = (char)(w[i] & 0xFF);
        s[2 * i + 1] = (char)(w[i] >> 8);
    }
    return s;
}

// Bytes of the source character at `p`: an unmappable character is skipped
// whole, as Windows replaces it by one default character.
size_t SourceCharBytes(const std::string& from, const unsigned char* p, size_t left) {
    size_t n = 1;
    if (from == "UTF-16LE")
        n = left >= 4 && (p[1] & 0xFC) == 0xD8 ? 4 : 2;
    else if (from == "GBK" || from == "BIG5")
        n = p[0] >= 0x81 ? 2 : 1;
    else if (from == "UTF-8")
        n = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC0 ? 2 : 1;
    return n < left ? n : left;
}
}  // namespace

std::string Iconv(const std::string& to, const std::string& from, const std::string& in) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == (iconv_t)-1) return in;
    std::string out(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &out[0];
    size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == (size_t)-1) {
            if (dstLeft < 2) break;
            // Unmappable: "?" as Windows' default character.
            if (to == "UTF-16LE") {
                *dst++ = '?';
                *dst++ = 0;
                dstLeft -= 2;
            } else {
                *dst++ = '?';
                dstLeft--;
            }
            size_t skip = SourceCharBytes(from, (const unsigned char*)src, srcLeft);
            src += skip;
            srcLeft -= skip;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

Machine& Current() {
    if (!g_current) throw std::logic_error("no simulated machine in use");
    return *g_current;
}
void Use(Machine* machine) { g_current = machine; }

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string ToString(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string GbkToUtf8(const std::string& gbk) { return Iconv("UTF-8", "GBK", gbk); }
std::string Utf8ToGbk(const std::string& utf8) { return Iconv("GBK", "UTF-8", utf8); }
std::u16string Utf8ToUtf16(const std::string& utf8) { return FromLE(Iconv("UTF-16LE", "UTF-8", utf8)); }
std::string Utf16ToUtf8(const std::u16string& w) { return Iconv("UTF-8", "UTF-16LE", ToLE(w)); }
std::string Utf16ToGbk(const std::u16string& w) { return Iconv("GBK", "UTF-16LE", ToLE(w)); }
std::u16string GbkToUtf16(const std::string& gbk) { return FromLE(Iconv("UTF-16LE", "GBK", gbk)); }

Machine::Machine() {
    for (int i = 0; i < 4; i++) hives[i].reset(new RegKey());
    driveTypes['C'] = DRIVE_FIXED;
    AddDir("C:\\");
    AddDir(windowsDir);
    AddDir(SystemDir());
    AddDir("C:\\Program Files");
    AddDir("C:\\Program Files (x86)");
    Make64Bit();
    AddStandardRegistry();
    Use(this);
}

Machine::~Machine() {
    if (g_current == this) g_current = nullptr;
}

void Machine::Make64Bit(bool wow64Redirection) {
    majorVersion = 6;
    minorVersion = 1;
    buildNumber = 7601;
    win9x = false;
    AddDir(Wow64Dir());
    programFiles = "C:\\Program Files (x86)";
    wow64Process = wow64Redirection;
    wow64ApiAvailable = true;
}

void Machine::Make32Bit() {
    Remove(Wow64Dir());
    wow64Process = false;
    programFiles = "C:\\Program Files";
}

void Machine::MakeXP() {
    Make32Bit();
    majorVersion = 5;
    minorVersion = 1;
    buildNumber = 2600;
    wow64ApiAvailable = false;
}

void Machine::Make9x() {
    MakeXP();
    majorVersion = 4;
    minorVersion = 10;
    buildNumber = 2222;
    win9x = true;
    ConvertPreloadTo9x();
}

bool Machine::Fault(const char* call) {
    if (!failOnly.empty() && failOnly != call) return false;
    callCount++;
    if (act && callCount == actAt) {
        std::function<void(Machine&)> once = act;
        act = nullptr;
        once(*this);
    }
    if (callLimit != 0 && callCount > callLimit) {
        fprintf(stderr, "sim: more than %ld fallible calls (last %s): the operation does not end\n", callLimit, call);
        abort();
    }
    if (failAt != 0 && (callCount == failAt || (failOnward && callCount > failAt))) {
        if (failedCall.empty()) failedCall = call;
        return true;
    }
    return false;
}

std::vector<std::string> Machine::BoxTexts() const {
    std::vector<std::string> out;
    for (const MessageBoxCall& b : boxes) out.push_back(b.wide ? Utf16ToGbk(b.wtext) : b.text);
    return out;
}

// ---- files -----------------------------------------------------------------

namespace {
bool IsLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
}  // namespace

std::vector<std::string> SplitGbkPath(const std::string& p, const char* separators, bool skipEmpty) {
    std::vector<std::string> parts;
    std::string cur;
    for (size_t i = 0; i < p.size(); i++) {
        unsigned char c = (unsigned char)p[i];
        if (IsLead(c) && i + 1 < p.size()) {
            cur += p[i];
            cur += p[++i];
        } else if (c && strchr(separators, c)) {
            if (!skipEmpty || !cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += p[i];
        }
    }
    if (!skipEmpty || !cur.empty()) parts.push_back(cur);
    return parts;
}

std::string FoldGbk(const std::string& s, bool toLower) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        unsigned char c = (unsigned char)s[i];
        if (IsLead(c) && i + 1 < s.size()) {
            out += s[i];
            out += s[++i];
        } else if (toLower) {
            out += (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
        } else {
            out += (char)((c >= 'a' && c <= 'z') ? c - 32 : c);
        }
    }
    return out;
}

size_t LastGbkSeparator(const std::string& path, const char* separators) {
    std::vector<std::string> parts = SplitGbkPath(path, separators, false);
    if (parts.size() < 2) return std::string::npos;
    return path.size() - parts.back().size() - 1;
}

bool EndsInGbkSeparator(const std::string& path, const char* separators) {
    return !path.empty() && LastGbkSeparator(path, separators) == path.size() - 1;
}

namespace {
size_t CharBytes(const char* s) { return IsLead((unsigned char)s[0]) && s[1] ? 2 : 1; }
}  // namespace

bool MatchGbkWildcard(const char* pat, const char* s) {
    if (!strcmp(pat, "*.*") || !strcmp(pat, "*")) return true;
    if (!*pat) return !*s;
    if (*pat == '*') return MatchGbkWildcard(pat + 1, s) || (*s && MatchGbkWildcard(pat, s + CharBytes(s)));
    if (!*s) return false;
    size_t cbName = CharBytes(s);
    if (*pat == '?') return MatchGbkWildcard(pat + 1, s + cbName);
    size_t cbPat = CharBytes(pat);
    return cbPat == cbName && memcmp(pat, s, cbPat) == 0 && MatchGbkWildcard(pat + cbPat, s + cbName);
}

namespace {
std::vector<std::string> SplitPath(const std::string& p) { return SplitGbkPath(p, "\\/", false); }
std::string Fold(const std::string& s) { return FoldGbk(s, false); }
}  // namespace

std::string Machine::Resolve(const std::string& in, std::string* display) const {
    if (in.empty()) return std::string();
    std::string path = in;
    if (!(path.size() >= 2 && path[1] == ':')) {
        if (path[0] == '\\' || path[0] == '/')
            path = currentDir.substr(0, 2) + path;
        else
            path = currentDir + (EndsInGbkSeparator(currentDir) ? "" : "\\") + path;
    }
    std::vector<std::string> parts = SplitPath(path);
    std::vector<std::string> out;
    for (size_t i = 0; i < parts.size(); i++) {
        const std::string& part = parts[i];
        if (i == 0) {
            if (part.size() != 2) return std::string();
            char d = part[0];
            if (d >= 'a' && d <= 'z') d -= 32;
            if (d < 'A' || d > 'Z') return std::string();
            out.push_back(std::string(1, d) + ":");
            continue;
        }
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (out.size() > 1) out.pop_back();
            continue;
        }
        // Windows drops trailing dots and spaces of a component.
        std::string p = part;
        while (!p.empty() && (p.back() == '.' || p.back() == ' ')) p.pop_back();
        if (p.empty()) continue;
        for (char c : p)
            if (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|' || c == ':') return std::string();
        out.push_back(p);
    }
    std::string disp = out[0] + "\\";
    for (size_t i = 1; i < out.size(); i++) disp += (i > 1 ? "\\" : "") + out[i];
    if (wow64Process && !redirectionDisabled) {
        std::string sys = Fold(SystemDir());
        std::string f = Fold(disp);
        if (f == sys || (f.size() > sys.size() && f.compare(0, sys.size(), sys) == 0 && f[sys.size()] == '\\'))
            disp = Wow64Dir() + disp.substr(sys.size());
    }
    if (display) *display = disp;
    return Fold(disp);
}

void Machine::AddDir(const std::string& path) {
    std::string disp;
    bool saved = redirectionDisabled;
    const_cast<Machine*>(this)->redirectionDisabled = true;
    std::string key = Resolve(path, &disp);
    redirectionDisabled = saved;
    if (key.empty()) return;
    std::vector<std::string> parts = SplitPath(disp);
    std::string acc;
    for (size_t i = 0; i < parts.size(); i++) {
        if (parts[i].empty()) continue;
        acc += (acc.empty() ? "" : (acc.size() == 2 ? "\\" : "\\")) + parts[i];
        if (acc.size() == 2) {
            std::string root = acc + "\\";
            FileEntry& e = files[Fold(root)];
            e.path = root;
            e.dir = true;
            e.attributes = FILE_ATTRIBUTE_DIRECTORY;
            continue;
        }
        std::string k = Fold(acc);
        if (!files.count(k)) {
            FileEntry& e = files[k];
            e.path = acc;
            e.dir = true;
            e.attributes = FILE_ATTRIBUTE_DIRECTORY;
            InheritSecurity(e, k);
        }
    }
}

void Machine::AddFile(const std::string& path, const std::string& content, DWORD attributes) {
    AddFile(path, ToBytes(content), attributes);
}

void Machine::AddFile(const std::string& path, const Bytes& content, DWORD attributes) {
    std::string disp;
    bool saved = redirectionDisabled;
    redirectionDisabled = true;
    std::string key = Resolve(path, &disp);
    redirectionDisabled = saved;
    if (key.empty()) return;
    size_t cut = LastGbkSeparator(disp);
    if (cut != std::string::npos && cut > 2) AddDir(disp.substr(0, cut));
    FileEntry& e = files[key];
    e = FileEntry();
    e.path = disp;
    e.data = content;
    e.attributes = attributes;
    InheritSecurity(e, key);
}

void Machine::AddHardLink(const std::string& path, const std::string& existing) {
    FileEntry* e = Entry(existing);
    if (!e || e->dir) return;
    // Test paths name the real directories, as AddFile and Entry take them.
    bool saved = redirectionDisabled;
    redirectionDisabled = true;
    std::string from = Resolve(existing), to = Resolve(path);
    redirectionDisabled = saved;
    if (!e->names) e->names = std::make_shared<std::set<std::string>>(std::set<std::string>{from});
    FileEntry copy = *e;
    copy.path = path;
    files[to] = copy;
    e->names->insert(to);
}

void Machine::AddReparsePoint(const std::string& path, const std::string& target, bool directory) {
    AddFile(path, "");
    FileEntry* e = Entry(path);
    e->dir = directory;
    e->attributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    bool saved = redirectionDisabled;
    redirectionDisabled = true;
    e->reparseTarget = Resolve(target);
    redirectionDisabled = saved;
}

void Machine::SyncNames(const std::string& key) {
    auto it = files.find(key);
    if (it == files.end() || !it->second.names) return;
    const FileEntry& from = it->second;
    for (const std::string& other : *from.names) {
        auto o = files.find(other);
        if (other == key || o == files.end()) continue;
        std::string path = o->second.path;
        o->second = from;
        o->second.path = path;
    }
}

void Machine::DropName(const std::string& key) {
    auto it = files.find(key);
    if (it == files.end() || !it->second.names) return;
    std::shared_ptr<std::set<std::string>> names = it->second.names;
    names->erase(key);
    it->second.names.reset();
    if (names->size() == 1) files[*names->begin()].names.reset();
}

FileEntry* Machine::Entry(const std::string& path) {
    bool saved = redirectionDisabled;
    redirectionDisabled = true;
    std::string key = Resolve(path);
    redirectionDisabled = saved;
    auto it = files.find(key);
    return it == files.end() ? nullptr : &it->second;
}

const FileEntry* Machine::Entry(const std::string& path) const { return const_cast<Machine*>(this)->Entry(path); }

bool Machine::Exists(const std::string& path) const { return Entry(path) != nullptr; }
bool Machine::IsDir(const std::string& path) const {
    const FileEntry* e = Entry(path);
    return e && e->dir;
}
std::string Machine::Read(const std::string& path) const {
    const FileEntry* e = Entry(path);
    return e && !e->dir ? ToString(e->data) : std::string();
}

std::vector<std::string> Machine::List(const std::string& dir) const {
    std::vector<std::string> out;
    const FileEntry* d = Entry(dir);
    if (!d || !d->dir) return out;
    std::string prefix = Fold(d->path);
    if (!EndsInGbkSeparator(prefix)) prefix += '\\';
    for (const auto& kv : files) {
        if (kv.first.size() <= prefix.size() || kv.first.compare(0, prefix.size(), prefix) != 0) continue;
        if (LastGbkSeparator(kv.first) >= prefix.size()) continue;
        out.push_back(kv.second.path.substr(LastGbkSeparator(kv.second.path) + 1));
    }
    std::sort(out.begin(), out.end());
    return out;
}

void Machine::Remove(const std::string& path) {
    bool saved = redirectionDisabled;
    redirectionDisabled = true;
    std::string key = Resolve(path);
    redirectionDisabled = saved;
    if (key.empty()) return;
    for (auto it = files.begin(); it != files.end();) {
        if (it->first == key || (it->first.size() > key.size() && it->first.compare(0, key.size(), key) == 0 &&
                                 it->first[key.size()] == '\\'))
            it = files.erase(it);
        else
            ++it;
    }
}

void Md5(const void* data, size_t length, unsigned char digest[16]) { Md5Digest(data, length, digest); }

}  // namespace sim
