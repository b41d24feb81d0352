// voz: lists, tests, extracts and packs VOZ archives (the setup program's
// payload, its skin archives and users' "vornback.voz" backups).
//
// Archives are untrusted: every walk is bounded by the file's length, member
// names must be bare file names, and extraction writes nothing until the
// whole archive has been walked and every name checked.  Member names are
// GBK inside archives and UTF-8 on this host.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/voz.h"
#include "tools/common/hostio.h"
#include "tools/common/payload_names.h"
#include "tools/common/vozpack.h"

using namespace tool;

namespace {

// Bounds how far list and extract expand one member (a zip bomb stops
// here): the largest member the setup program packs into a backup and
// brings back.
const size_t kExpandLimit = kVozMaxMemberBytes;

const char kUsage[] =
    "usage: voz list FILE\n"
    "       voz test [--payload] FILE\n"
    "       voz extract FILE DIR\n"
    "       voz pack [--legacy] OUT FILE|DIR...\n"
    "       voz pack-payload DIR OUT\n"
    "\n"
    "  list          show each member: name, expanded size, compressed size, digest\n"
    "                (\"-\" for legacy members, which carry none)\n"
    "  test          expand every member as the setup program would and check its\n"
    "                digest; one line per failure, exit status 1 if any.  Members\n"
    "                are held to what the restore of a backup takes (empty ones\n"
    "                too); --payload holds them to the payload's rules (none empty,\n"
    "                none larger than the setup program's work buffer)\n"
    "  extract       write every member into DIR (created if missing); refuses an\n"
    "                archive with a member name that is not a bare file name\n"
    "  pack          write a current-format archive (legacy \"O\" format with\n"
    "                --legacy) of the given files and of the files in the given\n"
    "                directories; names of at most 12 GBK bytes, no duplicates\n"
    "  pack-payload  pack a directory of the input method's files as the setup\n"
    "                program's payload: every name the program looks for must be\n"
    "                there and every file must fit its work buffer\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

int Usage() {
    fputs(kUsage, stderr);
    return 2;
}

void Fail(const std::string& where, const std::string& what) {
    fprintf(stderr, "voz: %s: %s\n", where.c_str(), what.c_str());
}

std::string MemberLabel(uint32_t index, const std::string& gbkName) {
    std::string label = "member " + std::to_string(index + 1);
    if (!gbkName.empty()) label += " (" + Printable(gbkName) + ")";
    return label;
}

// A whole archive file with its members, walked with the exact marker rule
// of the extraction.
struct Archive {
    std::string path;
    Bytes bytes;
    bool legacy = false;
    uint32_t count = 0;
    std::vector<VozMember> members;
    size_t end = kVozHeaderBytes;  // just past the last member walked
};

// Loads and walks an archive; false (with the error printed) when the file
// cannot be read, is no VOZ archive, or its walk breaks off.
bool LoadArchive(const std::string& path, Archive* a) {
    a->path = path;
    std::string error;
    if (!ReadWholeFile(path, &a->bytes, &error)) {
        fprintf(stderr, "voz: %s\n", error.c_str());
        return false;
    }
    if (a->bytes.size() < kVozHeaderBytes) {
        Fail(path, "not a VOZ archive: shorter than the 10-byte header");
        return false;
    }
    if (a->bytes[0] != 'V') {
        Fail(path, "not a VOZ archive: no \"V\" signature");
        return false;
    }
    MemberIterator it;
    VozBegin(&it, a->bytes.data(), a->bytes.size(), kMarkerExact);
    a->legacy = it.legacy;
    a->count = it.count;
    VozMember m;
    while (VozNext(&it, &m)) {
        a->members.push_back(m);
        a->end = it.offset;
    }
    if (it.broken) {
        std::string name;
        std::string reason = WalkBreakReason(it, &name);
        Fail(path, MemberLabel(it.next, name) + ": " + reason);
        return false;
    }
    return true;
}

std::string NameOf(const VozMember& m) { return std::string(m.name); }

// Pads a UTF-8 name to `columns` terminal columns; Chinese characters take two.
std::string Padded(const std::string& utf8, size_t columns) {
    size_t used = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80) used += 1;
        else if (c >= 0xC0) used += 2;
    }
    return used < columns ? utf8 + std::string(columns - used, ' ') : utf8;
}

// The record's digest field as text, cut at its terminator or field end.
std::string RecordDigest(const VozMember& m) {
    const char* d = m.digest;
    size_t n = 0;
    while (n < kVozDigestField && d[n]) n++;
    return std::string(d, n);
}

int List(const std::string& path) {
    Archive a;
    bool walked = LoadArchive(path, &a);
    if (a.bytes.size() < kVozHeaderBytes) return 1;
    size_t trailing = a.bytes.size() > a.end ? a.bytes.size() - a.end : 0;
    printf("%s: %s format, %u members, total length %u", path.c_str(), a.legacy ? "legacy" : "current", a.count,
           VozLe32(a.bytes.data() + 2));
    if (walked && trailing) printf(", %zu bytes after the last member", trailing);
    printf("\n%s %10s %10s  %s\n", Padded("name", 16).c_str(), "expanded", "compressed", "digest");
    int failures = walked ? 0 : 1;
    for (const VozMember& m : a.members) {
        Bytes out;
        ExpandResult r = Expand(m.compressed, m.cbCompressed, kExpandLimit, &out);
        std::string name = Printable(NameOf(m));
        std::string expanded = r == kExpandOk ? std::to_string(out.size()) : "?";
        printf("%s %10s %10u  %s\n", Padded(name, 16).c_str(), expanded.c_str(), m.cbCompressed,
               a.legacy ? "-" : RecordDigest(m).c_str());
        if (r != kExpandOk) {
            Fail(path, MemberLabel(m.index, NameOf(m)) + ": " + ExpandError(r));
            failures++;
        }
    }
    return failures ? 1 : 0;
}

int Test(const std::string& path, bool payload) {
    Archive a;
    if (!LoadArchive(path, &a)) return 1;
    int failures = 0;
    auto failure = [&](const VozMember& m, const std::string& what) {
        Fail(path, MemberLabel(m.index, NameOf(m)) + ": " + what);
        failures++;
    };
    uint32_t total = VozLe32(a.bytes.data() + 2);
    if (total != a.end) {
        Fail(path, "header total length " + std::to_string(total) + " but the members end at " +
                       std::to_string(a.end));
        failures++;
    }
    for (size_t i = 0; i < a.members.size(); i++) {
        const VozMember& m = a.members[i];
        std::string name = NameOf(m);
        if (!VozIsBareName(name.c_str()))
            failure(m, "name is not a bare file name");
        else if (VozIsDeviceName(name.c_str()))
            failure(m, "name is a Windows device name");
        for (size_t j = 0; j < i; j++)
            if (SameNameOnWindows(NameOf(a.members[j]), name)) {
                failure(m, "one file on Windows with member " + std::to_string(j + 1));
                break;
            }
        Bytes out;
        size_t limit = payload ? kMaxPayloadMemberBytes : kExpandLimit;
        ExpandResult r = Expand(m.compressed, m.cbCompressed, limit, &out);
        if (r == kExpandTooLarge) {
            failure(m, std::string(payload ? "expands beyond the setup program's work buffer ("
                                           : "expands beyond what the setup program restores (") +
                           std::to_string(limit) + " bytes)");
            continue;
        }
        if (r != kExpandOk) {
            failure(m, ExpandError(r));
            continue;
        }
        if (payload && out.empty()) {
            failure(m, "expands to 0 bytes, which the setup program counts as a failed member");
            continue;
        }
        if (!a.legacy) {
            std::string computed = Md5Hex(out);
            std::string recorded = RecordDigest(m);
            if (recorded != computed) failure(m, "digest mismatch: record " + Printable(recorded) + ", data " + computed);
        }
    }
    if (failures) {
        printf("%s: %d failure%s in %zu members\n", path.c_str(), failures, failures == 1 ? "" : "s",
               a.members.size());
        return 1;
    }
    printf("%s: %zu members OK (%s format)\n", path.c_str(), a.members.size(), a.legacy ? "legacy" : "current");
    return 0;
}

// Writes one new file inside `dir`.  Whatever the name already is there is
// never written through: a regular file (perhaps a hard link to a file
// elsewhere) loses its name first, anything else (a link, a FIFO, a
// directory, a device) is refused; the file is then created exclusively.
bool WriteMember(const std::string& dir, const std::string& hostName, const Bytes& data, std::string* error) {
    std::string path = dir + "/" + hostName;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            *error = path + ": exists and is not a regular file; not written";
            return false;
        }
        if (unlink(path.c_str()) != 0) {
            *error = path + ": " + strerror(errno);
            return false;
        }
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    return WriteAndClose(fd, data, path, error);
}

int Extract(const std::string& path, const std::string& dir) {
    Archive a;
    if (!LoadArchive(path, &a)) return 1;
    // Every name first: one bad name and nothing is written.
    std::vector<std::string> hostNames;
    for (size_t i = 0; i < a.members.size(); i++) {
        const VozMember& m = a.members[i];
        std::string name = NameOf(m), host;
        if (!VozIsBareName(name.c_str())) {
            Fail(path, MemberLabel(m.index, name) + ": name is not a bare file name; nothing extracted");
            return 1;
        }
        if (VozIsDeviceName(name.c_str())) {
            Fail(path, MemberLabel(m.index, name) + ": name is a Windows device name; nothing extracted");
            return 1;
        }
        if (!GbkToUtf8(name, &host)) {
            Fail(path, MemberLabel(m.index, name) + ": name is not valid GBK; nothing extracted");
            return 1;
        }
        for (size_t j = 0; j < i; j++)
            if (SameNameOnWindows(NameOf(a.members[j]), name)) {
                Fail(path, MemberLabel(m.index, name) + ": duplicate member name (one file on Windows); nothing extracted");
                return 1;
            }
        hostNames.push_back(host);
    }
    if (!IsDirectory(dir) && mkdir(dir.c_str(), 0755) != 0) {
        Fail(dir, strerror(errno));
        return 1;
    }
    int failures = 0;
    for (size_t i = 0; i < a.members.size(); i++) {
        const VozMember& m = a.members[i];
        Bytes out;
        ExpandResult r = Expand(m.compressed, m.cbCompressed, kExpandLimit, &out);
        std::string error;
        if (r != kExpandOk) {
            error = ExpandError(r);
        } else if (!a.legacy && RecordDigest(m) != Md5Hex(out)) {
            error = "digest mismatch; not written";
        } else if (!WriteMember(dir, hostNames[i], out, &error)) {
            fprintf(stderr, "voz: %s\n", error.c_str());
            failures++;
            continue;
        }
        if (!error.empty()) {
            Fail(path, MemberLabel(m.index, NameOf(m)) + ": " + error);
            failures++;
        }
    }
    return failures ? 1 : 0;
}

// One member to pack: its GBK name and where its bytes come from.
struct Input {
    std::string name;
    std::string path;
};

// The GBK member name for a host file, checked; false with the error printed.
bool MemberName(const std::string& path, const std::string& hostName, std::string* gbk) {
    if (!Utf8ToGbk(hostName, gbk)) {
        Fail(path, "file name has no GBK form");
        return false;
    }
    if (gbk->size() > kVozMaxName) {
        Fail(path, "member name is " + std::to_string(gbk->size()) + " GBK bytes, more than 12");
        return false;
    }
    if (!VozIsMemberName(gbk->c_str())) {
        Fail(path, "not usable as a member name on Windows");
        return false;
    }
    return true;
}

// The regular files of `dir` in the payload's order.
bool DirectoryInputs(const std::string& dir, std::vector<Input>* inputs) {
    std::vector<DirEntry> entries;
    std::string error;
    if (!ListDirectory(dir, &entries, &error)) {
        fprintf(stderr, "voz: %s\n", error.c_str());
        return false;
    }
    std::vector<Input> found;
    for (const DirEntry& e : entries) {
        std::string path = dir + "/" + e.name;
        if (!e.regular) {
            Fail(path, "not a regular file");
            return false;
        }
        Input in;
        in.path = path;
        if (!MemberName(path, e.name, &in.name)) return false;
        found.push_back(in);
    }
    std::sort(found.begin(), found.end(), [](const Input& a, const Input& b) { return PayloadOrderLess(a.name, b.name); });
    inputs->insert(inputs->end(), found.begin(), found.end());
    return true;
}

// Two members that Windows would store as one file.
bool RefuseDuplicates(const std::vector<Input>& inputs) {
    for (size_t i = 0; i < inputs.size(); i++)
        for (size_t j = 0; j < i; j++)
            if (SameNameOnWindows(inputs[i].name, inputs[j].name)) {
                Fail(inputs[i].path, "duplicate member name " + Printable(inputs[i].name) + " (also " + inputs[j].path + ")");
                return false;
            }
    return true;
}

bool ReadInputs(const std::vector<Input>& inputs, size_t limit, std::vector<PackMember>* members) {
    for (const Input& in : inputs) {
        struct stat st;
        if (stat(in.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (uint64_t)st.st_size > limit) {
            Fail(in.path, std::to_string((uint64_t)st.st_size) + " bytes, more than the setup program's work buffer holds (" +
                              std::to_string(limit) + ")");
            return false;
        }
        PackMember m;
        m.name = in.name;
        std::string error;
        if (!ReadWholeFile(in.path, &m.data, &error)) {
            fprintf(stderr, "voz: %s\n", error.c_str());
            return false;
        }
        if (m.data.size() > limit) {
            Fail(in.path, "grew past the work buffer while being read");
            return false;
        }
        members->push_back(m);
    }
    return true;
}

bool WriteArchive(const std::string& out, const std::vector<PackMember>& members, bool legacy, size_t trailingZeros) {
    Bytes archive;
    std::string error;
    if (!BuildArchive(members, legacy, &archive, &error)) {
        Fail(out, error);
        return false;
    }
    archive.insert(archive.end(), trailingZeros, 0);
    if (!WriteFileAtomically(out, archive, &error)) {
        fprintf(stderr, "voz: %s\n", error.c_str());
        return false;
    }
    return true;
}

int Pack(const std::string& out, const std::vector<std::string>& sources, bool legacy) {
    std::vector<Input> inputs;
    for (const std::string& s : sources) {
        if (IsDirectory(s)) {
            if (!DirectoryInputs(s, &inputs)) return 1;
            continue;
        }
        Input in;
        in.path = s;
        if (!MemberName(s, BaseName(s), &in.name)) return 1;
        inputs.push_back(in);
    }
    if (!RefuseDuplicates(inputs)) return 1;
    std::vector<PackMember> members;
    if (!ReadInputs(inputs, kExpandLimit, &members)) return 1;
    return WriteArchive(out, members, legacy, 0) ? 0 : 1;
}

int PackPayload(const std::string& dir, const std::string& out) {
    if (!IsDirectory(dir)) {
        Fail(dir, "not a directory");
        return 1;
    }
    std::vector<Input> inputs;
    if (!DirectoryInputs(dir, &inputs) || !RefuseDuplicates(inputs)) return 1;
    std::string missing;
    int missingCount = 0;
    for (const PayloadName& p : kPayloadNames) {
        bool present = false;
        std::string nearly;
        for (const Input& in : inputs) {
            if (in.name == p.name) present = true;
            else if (SameNameOnWindows(in.name, p.name)) nearly = in.name;
        }
        if (present) continue;
        missingCount++;
        missing += (missing.empty() ? "" : ", ") + Printable(p.name);
        if (!nearly.empty()) missing += " (found " + Printable(nearly) + ": names are compared exactly)";
    }
    if (missingCount) {
        Fail(dir, "lacks " + std::to_string(missingCount) + " member file" + (missingCount == 1 ? "" : "s") +
                      " the setup program looks for: " + missing);
        return 1;
    }
    std::vector<PackMember> members;
    if (!ReadInputs(inputs, kMaxPayloadMemberBytes, &members)) return 1;
    // As the shipped resource: four zero bytes after the archive's end.
    return WriteArchive(out, members, false, 4) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        fputs(kUsage, stdout);
        return 0;
    }
    if (command == "list" && argc == 3) return List(argv[2]);
    if (command == "test" && argc == 3) return Test(argv[2], false);
    if (command == "test" && argc == 4 && !strcmp(argv[2], "--payload")) return Test(argv[3], true);
    if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
    if (command == "pack-payload" && argc == 4) return PackPayload(argv[2], argv[3]);
    if (command == "pack") {
        int i = 2;
        bool legacy = false;
        if (i < argc && !strcmp(argv[i], "--legacy")) {
            legacy = true;
            i++;
        }
        if (argc - i < 2) return Usage();
        std::string out = argv[i++];
        std::vector<std::string> sources(argv + i, argv + argc);
        return Pack(out, sources, legacy);
    }
    return Usage();
}
