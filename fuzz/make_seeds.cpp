// Writes the seed corpora of the fuzz targets from the sample payload's
// generators: small archives (current and legacy format, a GBK name), a
// backup archive, a phrase list, command lines and registry layouts.
//
//   make_seeds <dir>     (creates <dir>/<target>/<n>)
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tools/common/samplegen.h"
#include "tools/common/vozpack.h"

namespace {
std::string g_root;

void Write(const std::string& target, int n, const tool::Bytes& bytes) {
    std::string dir = g_root + "/" + target;
    mkdir(g_root.c_str(), 0777);
    mkdir(dir.c_str(), 0777);
    std::string path = dir + "/seed" + std::to_string(n);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
        fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
        exit(1);
    }
}

tool::Bytes Text(const std::string& s) { return tool::Bytes(s.begin(), s.end()); }

tool::Bytes Archive(const std::vector<tool::PackMember>& members, bool legacy) {
    tool::Bytes out;
    std::string error;
    if (!tool::BuildArchive(members, legacy, &out, &error)) {
        fprintf(stderr, "make_seeds: %s\n", error.c_str());
        exit(1);
    }
    return out;
}

// One registry record of fuzz_registry: kind, name, type, data.
void Record(tool::Bytes* out, int kind, const std::string& name, int type, const std::string& data) {
    out->push_back((unsigned char)kind);
    out->push_back((unsigned char)name.size());
    out->insert(out->end(), name.begin(), name.end());
    out->push_back((unsigned char)type);
    out->push_back((unsigned char)data.size());
    out->insert(out->end(), data.begin(), data.end());
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    g_root = argv[1];
    std::string error;
    tool::Bytes settings = tool::MakeSettingsRecord(1);
    tool::Bytes phrases = tool::MakePhraseList(600, 7);
    tool::Bytes version = tool::VersionText("6.3");
    // "\xc0\xe4\xc9\xab.voz": a GBK name.
    std::vector<tool::PackMember> small = {
        {"voszsj43.voh", settings}, {"vorncyzk.bak", phrases}, {"\xc0\xe4\xc9\xab.voz", version}};
    tool::Bytes current = Archive(small, false);
    tool::Bytes legacy = Archive(small, true);
    tool::Bytes skin = tool::MakeSkinArchive(1, 12825, &error);
    for (const char* target : {"voz", "extract"}) {
        Write(target, 1, current);
        Write(target, 2, legacy);
        Write(target, 3, skin);
    }
    Write("skin", 1, skin);
    Write("skin", 2, current);
    Write("restore", 1, Archive({{"vorncyzk.bak", phrases}, {"voszsj43.voh", settings}}, false));
    Write("restore", 2, Archive({{"vornpyck.bak", phrases}}, false));
    Write("trailer", 1, phrases);
    Write("trailer", 2, tool::MakePhraseList(64, 3));
    int n = 1;
    for (const char* line : {"setvosrf32", "regvo32=D:\\My Files\\vornhu\\", "REGVO32=C:\\x\\", "xr regvo32=D:\\a\\",
                             "regvo32=C:\\Program Files\\vornhu\\"})
        Write("cmdline", n++, Text(line));

    // GBK layout text of this input method, of an older version.
    std::string ours = "\xd6\xc7\xc4\xdc\xd1\xe2\xd6\xdb\xca\xe4\xc8\xeb\xc6\xbd\xcc\xa8  6.3";
    tool::Bytes reg = {0};
    Record(&reg, 0, "E0200804", 1, "Other IME");
    Record(&reg, 0, "E0150404", 1, ours);
    Record(&reg, 0, "E0150804", 1, "Another IME");
    Record(&reg, 1, "", 1, "00000804");
    Record(&reg, 1, "", 1, "00000409");
    Record(&reg, 1, "", 3, "E0150404");
    Record(&reg, 3, "", 1, "00000804");
    Write("registry", 1, reg);
    reg[0] = 1;  // Windows XP: the promotion runs
    Record(&reg, 2, "E0FF0804", 0, "");
    Write("registry", 2, reg);
    return 0;
}
