// A flat picture of the simulated registry, for tests that check what an
// operation changed: "HIVE\path\to\key" -> "" for keys, and
// "HIVE\path\to\key\\:name" -> type and data bytes for values.
#pragma once

#include <map>
#include <string>

#include "sim/machine.h"

namespace regsnap {

typedef std::map<std::string, std::string> Snapshot;

inline void Walk(const sim::RegKey& key, const std::string& path, Snapshot* out) {
    (*out)[path] = "";
    for (const sim::RegValue& v : key.values)
        (*out)[path + "\\:" + v.name] = std::to_string(v.type) + ":" + sim::ToString(v.data);
    for (const auto& kv : key.children) Walk(*kv.second, path + "\\" + kv.second->name, out);
}

inline Snapshot Take(const sim::Machine& m) {
    static const char* names[4] = {"HKCR", "HKCU", "HKLM", "HKU"};
    Snapshot out;
    for (int i = 0; i < 4; i++) Walk(*m.hives[i], names[i], &out);
    return out;
}

// Entries added, removed or changed between two pictures that do not start
// with one of the `allowed` prefixes (compared case-insensitively).
inline std::string ChangesOutside(const Snapshot& before, const Snapshot& after,
                                  std::initializer_list<std::string> allowed) {
    auto fold = [](std::string s) {
        for (char& c : s) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
        return s;
    };
    auto inside = [&](const std::string& path) {
        for (const std::string& a : allowed)
            if (fold(path).compare(0, a.size(), fold(a)) == 0) return true;
        return false;
    };
    std::string out;
    for (const auto& kv : after) {
        auto it = before.find(kv.first);
        if ((it == before.end() || it->second != kv.second) && !inside(kv.first)) out += "changed " + kv.first + "\n";
    }
    for (const auto& kv : before)
        if (!after.count(kv.first) && !inside(kv.first)) out += "removed " + kv.first + "\n";
    return out;
}

// What two machines that ran the same steps left differently: registry
// entries and files outside the `allowed` prefixes (either way), started
// processes and message texts.  "" when they agree.
inline std::string MachineDifferences(const sim::Machine& a, const sim::Machine& b,
                                      std::initializer_list<std::string> allowed) {
    std::string out = ChangesOutside(Take(a), Take(b), allowed) + ChangesOutside(Take(b), Take(a), allowed);
    Snapshot filesA, filesB;
    for (const auto& kv : a.files) filesA[kv.first] = kv.second.dir ? "<dir>" : sim::ToString(kv.second.data);
    for (const auto& kv : b.files) filesB[kv.first] = kv.second.dir ? "<dir>" : sim::ToString(kv.second.data);
    out += ChangesOutside(filesA, filesB, allowed) + ChangesOutside(filesB, filesA, allowed);
    if (a.winExecs != b.winExecs) out += "started processes\n";
    if (a.BoxTexts() != b.BoxTexts()) out += "message boxes\n";
    return out;
}

}  // namespace regsnap
