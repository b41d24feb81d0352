// The registry readers on arbitrary Keyboard Layouts subkeys and preload
// values of any type and size: the preload scan, the promotion, the manual
// layout registration and the append to the preload list.  Every key opened
// is closed, and the entry written by hand belongs to this input method.
//
// Input: records [kind][name length][name][type][data length][data]; kind 0
// a layout subkey with a "layout text" value, 1 the next preload value, 2 a
// layout subkey without values, 3 a default-profile preload value.
#include <stdint.h>

#include <map>
#include <string>

#include "fuzz/fuzz_machine.h"
#include "imereg/texts.h"

namespace {
struct Reader {
    const uint8_t* p;
    size_t left;
    bool Byte(uint8_t* out) {
        if (!left) return false;
        *out = *p++;
        left--;
        return true;
    }
    bool Take(size_t n, std::string* out) {
        if (n > left) return false;
        out->assign((const char*)p, n);
        p += n;
        left -= n;
        return true;
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    FuzzMachine f;
    Reader in = {data, size};
    int preloadN = 0, defaultN = 0;
    uint8_t kind, cbName, type, cbData;
    std::string name, value;
    uint8_t flags = 0;
    in.Byte(&flags);
    if (flags & 1) f.m.MakeXP();
    if (flags & 2) f.m.oemCodePage = 950;
    if (flags & 4) f.m.imeInstallResult = nullptr;
    g_ctx.oemCodePage = f.m.oemCodePage;
    g_ctx.windowsMajor = f.m.majorVersion;
    while (in.Byte(&kind) && in.Byte(&cbName) && in.Take(cbName % 24, &name) && in.Byte(&type) &&
           in.Byte(&cbData) && in.Take(cbData, &value)) {
        switch (kind % 4) {
            case 0:
                if (name.empty()) break;
                f.m.SetValue(HKEY_LOCAL_MACHINE, std::string(KEY_LAYOUTS) + "\\" + name, VALUE_LAYOUT_TEXT, type % 12,
                             sim::ToBytes(value));
                break;
            case 1:
                f.m.SetValue(HKEY_CURRENT_USER, KEY_USER_PRELOAD, std::to_string(++preloadN), type % 12,
                             sim::ToBytes(value));
                break;
            case 2:
                if (!name.empty()) f.m.Key(HKEY_LOCAL_MACHINE, std::string(KEY_LAYOUTS) + "\\" + name, true);
                break;
            default:
                f.m.SetValue(HKEY_USERS, std::string(KEY_DEFAULT_LAYOUT) + "\\" KEY_PRELOAD,
                             std::to_string(++defaultN), type % 12, sim::ToBytes(value));
                break;
        }
    }
    // Entries of other input methods, as they were.
    std::map<std::string, std::string> others;
    for (const std::string& key : f.m.Subkeys(HKEY_LOCAL_MACHINE, KEY_LAYOUTS)) {
        std::string path = std::string(KEY_LAYOUTS) + "\\" + key;
        std::string text = f.m.GetValue(HKEY_LOCAL_MACHINE, path, VALUE_LAYOUT_TEXT);
        if (text.compare(0, 16, IME_DESC_GBK) != 0 && text.compare(0, 16, IME_DESC_BIG5) != 0)
            others[path] = f.m.HasValue(HKEY_LOCAL_MACHINE, path, VALUE_IME_FILE) ? "?" : text;
    }
    if (FindImeInPreload()) PromoteImeInPreload();
    FUZZ_CHECK(f.m.OpenKeyCount() == 0);
    if (!RegisterImeLayout()) RegisterLayoutManually();
    FUZZ_CHECK(f.m.OpenKeyCount() == 0);
    // (ImmInstallIMEW's own entry is the simulated Windows' business.)
    for (const auto& kv : f.m.imeInstallResult ? std::map<std::string, std::string>() : others) {
        if (kv.second == "?" || !f.m.Key(HKEY_LOCAL_MACHINE, kv.first)) continue;
        FUZZ_CHECK(f.m.GetValue(HKEY_LOCAL_MACHINE, kv.first, VALUE_LAYOUT_TEXT) == kv.second);
        FUZZ_CHECK(!f.m.HasValue(HKEY_LOCAL_MACHINE, kv.first, VALUE_IME_FILE));
    }
    AddLayoutToUserPreload("e0010804");
    FUZZ_CHECK(f.m.OpenKeyCount() == 0);
    return 0;
}
