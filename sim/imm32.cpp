// imm32 of the simulated machine, with the keyboard-layout calls of user32:
// ImmInstallIMEW with the registry entry Windows makes, and the thread's
// layout list; and input.dll's InstallLayoutOrTip.  Like Windows (and unlike Wine 8, which makes a new key on
// every call) an entry whose "Ime File" names the same file is reused; a new
// entry is named by the configured result handle.  The file itself is not
// looked at.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sim/machine.h"

using sim::Current;
using sim::Machine;

namespace {

const char* kLayouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = (char)(c - 32);
    return s;
}

// Windows' registry text of a value: the A view without its terminator.
std::string ValueText(Machine& m, const std::string& path, const std::string& name) {
    const sim::RegKey* key = m.Key(HKEY_LOCAL_MACHINE, path);
    if (!key) return std::string();
    for (const sim::RegValue& v : key->values) {
        if (UpperAscii(v.name) != UpperAscii(name)) continue;
        std::string t = v.wide ? sim::Utf16ToGbk(std::u16string((const char16_t*)v.data.data(), v.data.size() / 2))
                               : sim::ToString(v.data);
        while (!t.empty() && t.back() == 0) t.pop_back();
        return t;
    }
    return std::string();
}

void SetWideValue(sim::RegKey* key, const std::string& name, const std::u16string& text) {
    sim::Bytes data;
    for (char16_t c : text) {
        data.push_back((unsigned char)(c & 0xFF));
        data.push_back((unsigned char)(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    for (sim::RegValue& v : key->values) {
        if (UpperAscii(v.name) == UpperAscii(name)) {
            v.type = REG_SZ;
            v.data = data;
            v.wide = true;
            return;
        }
    }
    sim::RegValue v;
    v.name = name;
    v.type = REG_SZ;
    v.data = data;
    v.wide = true;
    key->values.push_back(v);
}

}  // namespace

HKL ImmInstallIMEW(LPCWSTR imeFile, LPCWSTR layoutText) {
    Machine& m = Current();
    sim::ImeInstallCall call;
    call.file = imeFile ? imeFile : u"";
    call.text = layoutText ? layoutText : u"";
    HKL result = m.imeInstallResult;
    if (result && m.Fault("ImmInstallIMEW")) result = nullptr;

    if (result && m.imeInstallWritesRegistry) {
        std::u16string base = call.file.substr(call.file.rfind(u'\\') + 1);
        std::string fileName = UpperAscii(sim::Utf16ToGbk(base));
        std::string id;
        for (const std::string& name : m.Subkeys(HKEY_LOCAL_MACHINE, kLayouts)) {
            if (UpperAscii(ValueText(m, std::string(kLayouts) + "\\" + name, "Ime File")) == fileName) {
                id = name;
                break;
            }
        }
        if (id.empty()) {
            char name[16];
            snprintf(name, sizeof(name), "%08X", (unsigned)(uintptr_t)result);
            id = name;
        } else {
            result = (HKL)(uintptr_t)strtoul(id.c_str(), nullptr, 16);
        }
        sim::RegKey* key = m.Key(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\" + id, true);
        SetWideValue(key, "Ime File", sim::GbkToUtf16(fileName));
        SetWideValue(key, "Layout File", u"kbdus.dll");
        SetWideValue(key, "Layout Text", call.text);
        bool loaded = false;
        for (const sim::KeyboardLayout& k : m.keyboardLayouts) loaded = loaded || k.handle == result;
        if (!loaded) m.keyboardLayouts.push_back(sim::KeyboardLayout{result, id, call.text});
    }
    if (!result) m.lastError = ERROR_FILE_NOT_FOUND;
    call.result = result;
    m.imeInstalls.push_back(call);
    return result;
}

namespace {
const sim::KeyboardLayout* FindLayout(HKL layout) {
    for (const sim::KeyboardLayout& k : Current().keyboardLayouts)
        if (k.handle == layout) return &k;
    return nullptr;
}
}  // namespace

// The description in the ANSI code page; 0 and the buffer untouched for a
// layout that is not an input method.  A short buffer gets what fits.
UINT ImmGetDescriptionA(HKL layout, LPSTR description, UINT cbDescription) {
    Machine& m = Current();
    const sim::KeyboardLayout* k = FindLayout(layout);
    if (!k || k->description.empty()) return 0;
    std::string text = sim::Utf16ToGbk(k->description);
    if (m.ansiCodePage == 950) text = sim::Iconv("BIG5", "GBK", text);
    if (cbDescription == 0 || !description) return (UINT)text.size();
    size_t n = text.size() < cbDescription - 1 ? text.size() : cbDescription - 1;
    memcpy(description, text.data(), n);
    description[n] = 0;
    return (UINT)n;
}

HKL GetKeyboardLayout(DWORD) { return Current().activeLayout; }

BOOL GetKeyboardLayoutNameA(LPSTR name) {
    const sim::KeyboardLayout* k = FindLayout(Current().activeLayout);
    if (!name || !k) return FALSE;
    snprintf(name, KL_NAMELENGTH, "%s", k->name.c_str());
    return TRUE;
}

int GetKeyboardLayoutList(int count, HKL* list) {
    const std::vector<sim::KeyboardLayout>& all = Current().keyboardLayouts;
    if (count <= 0) return (int)all.size();
    int n = 0;
    for (; n < count && (size_t)n < all.size(); n++) list[n] = all[n].handle;
    return n;
}

// The previous layout, or null (ERROR_INVALID_PARAMETER) for a layout the
// thread has not loaded.
HKL ActivateKeyboardLayout(HKL layout, UINT flags) {
    Machine& m = Current();
    if (!FindLayout(layout) || m.Fault("ActivateKeyboardLayout")) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    HKL previous = m.activeLayout;
    m.activeLayout = layout;
    m.layoutActivations.push_back(std::make_pair(layout, flags));
    return previous;
}

// What Windows 8 and later keep of the current user's language list: under
// the language's tag, one DWORD per input profile, named as the profile
// ("0804:E0200804"), holding its place.  A string of another form, a
// language other than the two Chinese ones, or a layout that is not
// registered fails the call (ERROR_INVALID_PARAMETER) and changes nothing.
// The flags are recorded only.
BOOL WINAPI sim::SimInstallLayoutOrTip(LPCWSTR profile, DWORD flags) {
    Machine& m = Current();
    std::u16string wide = profile ? profile : u"";
    m.layoutOrTipCalls.push_back(std::make_pair(wide, flags));
    std::string text = sim::Utf16ToGbk(wide);
    const char* tag = text.compare(0, 5, "0804:") == 0   ? "zh-Hans-CN"
                      : text.compare(0, 5, "0404:") == 0 ? "zh-Hant-TW"
                                                         : nullptr;
    std::string layout = text.size() == 13 ? UpperAscii(text.substr(5)) : std::string("?");
    if (m.Fault("InstallLayoutOrTip") || !tag || layout.find_first_not_of("0123456789ABCDEF") != std::string::npos ||
        !m.Key(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\" + layout))
        return m.lastError = ERROR_INVALID_PARAMETER, FALSE;
    std::string path = std::string("Control Panel\\International\\User Profile\\") + tag;
    std::string name = text.substr(0, 5) + layout;
    if (!m.HasValue(HKEY_CURRENT_USER, path, name)) {
        DWORD order = (DWORD)m.Key(HKEY_CURRENT_USER, path, true)->values.size() + 1;
        m.SetValue(HKEY_CURRENT_USER, path, name, REG_DWORD, sim::Bytes{(unsigned char)order, 0, 0, 0});
    }
    return TRUE;
}
