// mkpayload: writes the sample payload, a current-format VOZ archive of the
// 88 members the setup program looks for, byte for byte the same on every
// run.  "setupw64.exe" is the given x64 build; members given with --member
// (the sample input methods built for Windows) are taken as they are, padded
// with zero bytes after the image to the shipped size; every other member is
// made by tools/common/samplegen.
//
//   mkpayload --setupw64 PATH --out PATH [--dir DIR] [--member NAME=PATH ...]
//
// --dir also writes the member files (host UTF-8 names) into DIR, which
// "voz pack-payload DIR OUT" packs back into the same archive.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tools/common/hostio.h"
#include "tools/common/payload_names.h"
#include "tools/common/samplegen.h"
#include "tools/common/vozpack.h"

using namespace tool;

namespace {

int Usage(FILE* out, int status) {
    fputs("usage: mkpayload --setupw64 PATH --out PATH [--dir DIR] [--member NAME=PATH ...]\n"
          "Writes the sample payload archive: the 88 members the setup program looks\n"
          "for, with PATH (the x64 build) as setupw64.exe.  --member takes member NAME\n"
          "from PATH (padded with zero bytes to the shipped size).  --dir also writes\n"
          "the member files into DIR.\n",
          out);
    return status;
}

int Fail(const std::string& message) {
    fprintf(stderr, "mkpayload: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string setupw64, out, dir;
    std::map<std::string, std::string> given;  // member name -> file
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") return Usage(stdout, 0);
        if (i + 1 >= argc) return Usage(stderr, 2);
        if (a == "--setupw64") setupw64 = argv[++i];
        else if (a == "--out") out = argv[++i];
        else if (a == "--dir") dir = argv[++i];
        else if (a == "--member") {
            std::string spec = argv[++i];
            size_t eq = spec.find('=');
            if (eq == std::string::npos || eq == 0) return Usage(stderr, 2);
            given[spec.substr(0, eq)] = spec.substr(eq + 1);
        }
        else return Usage(stderr, 2);
    }
    if (setupw64.empty() || out.empty()) return Usage(stderr, 2);

    std::vector<PackMember> members;
    std::string error;
    for (const PayloadName& p : kPayloadNames) {
        PackMember m;
        m.name = p.name;
        auto file = given.find(m.name);
        if (m.name == "setupw64.exe") {
            if (!ReadWholeFile(setupw64, &m.data, &error)) return Fail(error);
        } else if (file != given.end()) {
            if (!ReadWholeFile(file->second, &m.data, &error)) return Fail(error);
            if (p.shippedBytes && m.data.size() > p.shippedBytes)
                return Fail(file->second + ": " + std::to_string(m.data.size()) + " bytes, more than the " +
                            std::to_string(p.shippedBytes) + " of " + Printable(m.name));
            // Bytes after the last section are not loaded: the image stays valid.
            if (p.shippedBytes) m.data.resize(p.shippedBytes, 0);
            given.erase(file);
        } else {
            m.data = MakeSampleMember(m.name, &error);
            if (m.data.empty()) return Fail(error);
            if (p.shippedBytes && m.data.size() != p.shippedBytes)
                return Fail(Printable(m.name) + ": made " + std::to_string(m.data.size()) + " bytes instead of " +
                            std::to_string(p.shippedBytes));
        }
        if (m.data.size() > kMaxPayloadMemberBytes)
            return Fail(Printable(m.name) + ": " + std::to_string(m.data.size()) +
                        " bytes do not fit the setup program's work buffer");
        members.push_back(m);
    }
    if (!given.empty()) return Fail(given.begin()->first + ": not a payload member name");
    std::stable_sort(members.begin(), members.end(),
                     [](const PackMember& a, const PackMember& b) { return PayloadOrderLess(a.name, b.name); });

    Bytes archive;
    if (!BuildArchive(members, false, &archive, &error)) return Fail(error);
    archive.insert(archive.end(), 4, 0);  // as the shipped resource
    if (!WriteFileAtomically(out, archive, &error)) return Fail(error);

    if (!dir.empty()) {
        if (!IsDirectory(dir) && mkdir(dir.c_str(), 0755) != 0) return Fail(dir + ": " + strerror(errno));
        for (const PackMember& m : members) {
            std::string host;
            if (!GbkToUtf8(m.name, &host)) return Fail(Printable(m.name) + ": no UTF-8 form");
            if (!WriteFileAtomically(dir + "/" + host, m.data, &error)) return Fail(error);
        }
    }
    return 0;
}
