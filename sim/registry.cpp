// Registry of the simulated machine: four hives of keys with typed values,
// kept the way Windows keeps them, and the advapi32 registry calls over them.
//
// What the contract suite pins down on Wine, and this file therefore does:
// - subkeys enumerate sorted case-insensitively (lower-case folding, so "_x"
//   comes before "a"); Windows itself promises no order;
// - RegSetValueExA/W of a string type whose count leaves out a terminator
//   that sits right after the data store the terminator too ("NT does this");
// - RegQueryValueExA/W of a string add a terminator after the data when the
//   buffer has room for it, without counting it in the returned size; a
//   buffer too small gets ERROR_MORE_DATA, the needed size, and no bytes;
// - a key with subkeys cannot be deleted (ERROR_ACCESS_DENIED);
// - missing keys and values answer ERROR_FILE_NOT_FOUND;
// - a subkey may be created through a handle opened with KEY_READ.
// Narrow calls store bytes in the machine's ANSI code page, wide calls
// UTF-16LE; a read through the other variant converts.
#include <iconv.h>
#include <string.h>

#include <algorithm>
#include <iterator>

#include "sim/machine.h"

using sim::Bytes;
using sim::Current;
using sim::Machine;
using sim::RegHandle;
using sim::RegKey;
using sim::RegValue;

namespace {

const uintptr_t kHandleBase = 0x20000;
const DWORD kErrorBadPathname = 161;  // ERROR_BAD_PATHNAME
const DWORD kErrorNoAccess = 998;     // ERROR_NOACCESS

// Key and value names compare case-insensitively; this folded form (lower
// case, as Wine sorts) is also the enumeration order.
std::string Fold(const std::string& s) { return sim::FoldGbk(s, true); }

// Path components; empty ones (doubled or trailing backslashes) are skipped
// as Windows skips them.
std::vector<std::string> Split(const std::string& path) { return sim::SplitGbkPath(path, "\\", true); }

std::string CodePageName(UINT cp) {
    switch (cp) {
        case 936: return "GBK";
        case 950: return "BIG5";
        case 65001: return "UTF-8";
        default: return "CP" + std::to_string(cp);
    }
}

std::string AnsiToUtf16le(const std::string& ansi) {
    return sim::Iconv("UTF-16LE", CodePageName(Current().ansiCodePage), ansi);
}
std::string Utf16leToAnsi(const std::string& le) {
    return sim::Iconv(CodePageName(Current().ansiCodePage), "UTF-16LE", le);
}

std::string WideToAnsi(LPCWSTR w) {
    if (!w) return std::string();
    std::string le;
    for (; *w; w++) {
        le += (char)(*w & 0xFF);
        le += (char)(*w >> 8);
    }
    return Utf16leToAnsi(le);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

int HiveIndex(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) return 0;
    if (root == HKEY_CURRENT_USER) return 1;
    if (root == HKEY_LOCAL_MACHINE) return 2;
    if (root == HKEY_USERS) return 3;
    return -1;
}

RegValue* FindValue(RegKey* key, const std::string& name) {
    std::string folded = Fold(name);
    for (RegValue& v : key->values)
        if (Fold(v.name) == folded) return &v;
    return nullptr;
}

RegKey* Child(RegKey* key, const std::string& name) {
    auto it = key->children.find(Fold(name));
    return it == key->children.end() ? nullptr : it->second.get();
}

RegKey* AddChild(RegKey* key, const std::string& name) {
    std::unique_ptr<RegKey>& slot = key->children[Fold(name)];
    slot.reset(new RegKey());
    slot->name = name;
    slot->parent = key;
    return slot.get();
}

void MarkDeleted(RegKey* key) {
    key->deleted = true;
    for (auto& kv : key->children) MarkDeleted(kv.second.get());
}

// Unhooks a key from its parent; it stays alive for handles still open on it.
void Detach(Machine& m, RegKey* key) {
    RegKey* parent = key->parent;
    if (!parent) return;
    auto it = parent->children.find(Fold(key->name));
    if (it == parent->children.end()) return;
    MarkDeleted(key);
    key->parent = nullptr;
    m.regDeleted.push_back(std::move(it->second));
    parent->children.erase(it);
}

void StoreValue(RegKey* key, const std::string& name, DWORD type, const Bytes& data, bool wide) {
    RegValue* v = FindValue(key, name);
    if (!v) {
        key->values.push_back(RegValue());
        v = &key->values.back();
        v->name = name;
    }
    v->type = type;
    v->data = data;
    v->wide = wide;
}

HKEY NewHandle(Machine& m, RegKey* key, REGSAM access) {
    size_t i = 0;
    while (i < m.regHandles.size() && m.regHandles[i].used) i++;
    if (i == m.regHandles.size()) m.regHandles.push_back(RegHandle());
    m.regHandles[i].key = key;
    m.regHandles[i].access = access;
    m.regHandles[i].used = true;
    return (HKEY)(kHandleBase + 4 * i);
}

// The key behind a handle or a predefined root, and the access it grants.
LSTATUS FromHandle(HKEY h, RegKey** key, REGSAM* access) {
    Machine& m = Current();
    int hive = HiveIndex(h);
    if (hive >= 0) {
        *key = m.hives[hive].get();
        *access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    uintptr_t v = (uintptr_t)h;
    if (v < kHandleBase || (v - kHandleBase) % 4) return ERROR_INVALID_HANDLE;
    size_t i = (v - kHandleBase) / 4;
    if (i >= m.regHandles.size() || !m.regHandles[i].used) return ERROR_INVALID_HANDLE;
    *key = m.regHandles[i].key;
    *access = m.regHandles[i].access;
    return (*key)->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

REGSAM Rights(REGSAM sam) { return sam & ~(REGSAM)(KEY_WOW64_64KEY | KEY_WOW64_32KEY); }

// What opening and creating share: the result cleared, the base handle and
// the subkey path checked, one fault point.
LSTATUS BeginKeyCall(HKEY base, const std::string& sub, PHKEY result, const char* call, RegKey** key) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    REGSAM access;
    LSTATUS e = FromHandle(base, key, &access);
    if (e != ERROR_SUCCESS) return e;
    if (!sub.empty() && sub[0] == '\\') return kErrorBadPathname;
    if (Current().Fault(call)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LSTATUS OpenKey(HKEY base, const std::string& sub, REGSAM sam, PHKEY result, const char* call) {
    Machine& m = Current();
    RegKey* key;
    LSTATUS e = BeginKeyCall(base, sub, result, call, &key);
    if (e != ERROR_SUCCESS) return e;
    for (const std::string& part : Split(sub)) {
        key = Child(key, part);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    if (Rights(sam) & key->denied) return ERROR_ACCESS_DENIED;
    *result = NewHandle(m, key, Rights(sam));
    return ERROR_SUCCESS;
}

LSTATUS CreateKey(HKEY base, const std::string& sub, REGSAM sam, PHKEY result, LPDWORD disposition,
                  const char* call) {
    Machine& m = Current();
    RegKey* key;
    LSTATUS e = BeginKeyCall(base, sub, result, call, &key);
    if (e != ERROR_SUCCESS) return e;
    DWORD how = REG_OPENED_EXISTING_KEY;
    for (const std::string& part : Split(sub)) {
        RegKey* next = Child(key, part);
        if (!next) {
            // The key's own security decides, not the handle's access.
            if (key->denied & KEY_CREATE_SUB_KEY) return ERROR_ACCESS_DENIED;
            next = AddChild(key, part);
            how = REG_CREATED_NEW_KEY;
        }
        key = next;
    }
    if (Rights(sam) & key->denied) return ERROR_ACCESS_DENIED;
    *result = NewHandle(m, key, Rights(sam));
    if (disposition) *disposition = how;
    return ERROR_SUCCESS;
}

// The key behind a handle for a call that needs `rights` (0: any), with the
// call's fault point; `valid` is false for a parameter Windows refuses first.
LSTATUS KeyForCall(HKEY h, REGSAM rights, bool valid, const char* call, RegKey** key) {
    REGSAM access;
    LSTATUS e = FromHandle(h, key, &access);
    if (e != ERROR_SUCCESS) return e;
    if (rights && !(access & rights)) return ERROR_ACCESS_DENIED;
    if (!valid) return ERROR_INVALID_PARAMETER;
    if (Current().Fault(call)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// `wideCall`: the caller wants UTF-16 for string types.
LSTATUS QueryValue(HKEY h, const std::string& name, bool wideCall, LPDWORD type, LPBYTE data, LPDWORD cbData,
                   const char* call) {
    RegKey* key;
    LSTATUS e = KeyForCall(h, KEY_QUERY_VALUE, !(data && !cbData), call, &key);
    if (e != ERROR_SUCCESS) return e;
    RegValue* v = FindValue(key, name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    std::string bytes = sim::ToString(v->data);
    if (IsStringType(v->type) && v->wide != wideCall)
        bytes = wideCall ? AnsiToUtf16le(bytes) : Utf16leToAnsi(bytes);
    if (type) *type = v->type;
    DWORD len = (DWORD)bytes.size();
    if (!data) {
        if (cbData) *cbData = len;
        return ERROR_SUCCESS;
    }
    if (len > *cbData) {
        *cbData = len;
        return ERROR_MORE_DATA;
    }
    memcpy(data, bytes.data(), len);
    if (IsStringType(v->type) && len > 0) {
        size_t unit = wideCall ? 2 : 1;
        bool lastZero = wideCall ? (len >= 2 && data[len - 2] == 0 && data[len - 1] == 0) : data[len - 1] == 0;
        if (!lastZero && len + unit <= *cbData) memset(data + len, 0, unit);
    }
    *cbData = len;
    return ERROR_SUCCESS;
}

LSTATUS SetValue(HKEY h, const std::string& name, DWORD type, const BYTE* data, DWORD count, bool wide,
                 const char* call) {
    Machine& m = Current();
    RegKey* key;
    REGSAM access;
    LSTATUS e = FromHandle(h, &key, &access);
    if (e != ERROR_SUCCESS) return e;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!data && count) return kErrorNoAccess;
    if (m.Fault(call)) return ERROR_ACCESS_DENIED;
    if (IsStringType(type) && count > 0) {
        // A terminator left out of the count but present right after the
        // data is stored as well (Windows reads one unit past the count).
        if (wide && count >= 2) {
            const BYTE* last = data + (count & ~1u) - 2;
            if ((last[0] || last[1]) && !last[2] && !last[3]) count = (count & ~1u) + 2;
        } else if (!wide && data[count - 1] && !data[count]) {
            count++;
        }
    }
    StoreValue(key, name, type, Bytes(data, data + count), wide);
    return ERROR_SUCCESS;
}

}  // namespace

// ---- test-facing helpers ----------------------------------------------------

namespace sim {

RegKey* Machine::Key(HKEY root, const std::string& path, bool create) {
    int hive = HiveIndex(root);
    if (hive < 0) return nullptr;
    RegKey* key = hives[hive].get();
    for (const std::string& part : Split(path)) {
        RegKey* next = Child(key, part);
        if (!next) {
            if (!create) return nullptr;
            next = AddChild(key, part);
        }
        key = next;
    }
    return key;
}

void Machine::LogOn(const std::string& sid, const std::string& name) {
    RegKey* users = hives[3].get();
    std::unique_ptr<RegKey> current = std::move(hives[1]);
    auto mine = users->children.find(Fold(sid));
    if (mine != users->children.end()) {
        hives[1] = std::move(mine->second);
        users->children.erase(mine);
    } else {
        hives[1].reset(new RegKey());
    }
    hives[1]->parent = nullptr;
    hives[1]->name.clear();
    current->name = userSid;
    current->parent = users;
    users->children[Fold(userSid)] = std::move(current);
    userSid = sid;
    userName = name;
}

void Machine::SetString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
    // As regedit and Windows' own writers store it: with the terminator.
    Bytes data = ToBytes(value);
    data.push_back(0);
    SetValue(root, path, name, REG_SZ, data);
}

void Machine::SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const Bytes& data) {
    RegKey* key = Key(root, path, true);
    if (key) StoreValue(key, name, type, data, false);
}

bool Machine::HasValue(HKEY root, const std::string& path, const std::string& name) {
    RegKey* key = Key(root, path);
    return key && FindValue(key, name);
}

std::string Machine::GetValue(HKEY root, const std::string& path, const std::string& name, DWORD* type) {
    RegKey* key = Key(root, path);
    RegValue* v = key ? FindValue(key, name) : nullptr;
    if (type) *type = v ? v->type : REG_NONE;
    return v ? ToString(v->data) : std::string();
}

std::vector<std::string> Machine::Subkeys(HKEY root, const std::string& path) {
    std::vector<std::string> out;
    RegKey* key = Key(root, path);
    if (key)
        for (auto& kv : key->children) out.push_back(kv.second->name);
    return out;
}

void Machine::DeleteKeyTree(HKEY root, const std::string& path) {
    RegKey* key = Key(root, path);
    if (key && key->parent) Detach(*this, key);
}

size_t Machine::OpenKeyCount() const {
    size_t n = 0;
    for (const RegHandle& h : regHandles) n += h.used ? 1 : 0;
    return n;
}

namespace {
// Windows' own entries are stored as UTF-16 with their terminator.
void SetWide(Machine& m, HKEY root, const std::string& path, const std::string& name, const std::u16string& text) {
    RegKey* key = m.Key(root, path, true);
    Bytes data;
    for (char16_t c : text) {
        data.push_back((unsigned char)(c & 0xFF));
        data.push_back((unsigned char)(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    StoreValue(key, name, REG_SZ, data, true);
}
}  // namespace

void Machine::AddStandardRegistry() {
    const std::string layouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
    SetWide(*this, HKEY_LOCAL_MACHINE, layouts + "\\00000409", "Layout File", u"KBDUS.DLL");
    SetWide(*this, HKEY_LOCAL_MACHINE, layouts + "\\00000409", "Layout Text", u"US");
    SetWide(*this, HKEY_LOCAL_MACHINE, layouts + "\\00000804", "Layout File", u"KBDUS.DLL");
    SetWide(*this, HKEY_LOCAL_MACHINE, layouts + "\\00000804", "Layout Text", u"Chinese (Simplified) - US Keyboard");
    SetWide(*this, HKEY_CURRENT_USER, "Keyboard Layout\\Preload", "1", u"00000804");
    SetWide(*this, HKEY_USERS, ".DEFAULT\\Keyboard Layout\\Preload", "1", u"00000804");
    SetWide(*this, HKEY_CURRENT_USER, "Control Panel\\International", "LocaleName", u"zh-CN");
    const std::string version = "Software\\Microsoft\\Windows\\CurrentVersion";
    Key(HKEY_LOCAL_MACHINE, version + "\\Uninstall", true);
    Key(HKEY_LOCAL_MACHINE, version + "\\Run", true);
    Key(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Active Setup\\Installed Components", true);
    SetWide(*this, HKEY_LOCAL_MACHINE, version + "\\Internet Settings\\User Agent\\Post Platform", "SLCC2", u"");
}

void Machine::ConvertPreloadTo9x() {
    RegKey* preload = Key(HKEY_CURRENT_USER, "Keyboard Layout\\Preload");
    if (!preload) return;
    std::vector<RegValue> values = preload->values;
    preload->values.clear();
    for (RegValue& v : values) {
        std::string text = ToString(v.data);
        if (v.wide) text = Utf16leToAnsi(text);
        if (!text.empty() && text.back() == 0) text.pop_back();
        SetString(HKEY_CURRENT_USER, "Keyboard Layout\\Preload\\" + v.name, "", text);
    }
}

}  // namespace sim

// ---- advapi32 ---------------------------------------------------------------

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    return OpenKey(key, subKey ? subKey : "", sam, result, "RegOpenKeyExA");
}

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    return OpenKey(key, WideToAnsi(subKey), sam, result, "RegOpenKeyExW");
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM sam, LPSECURITY_ATTRIBUTES,
                        PHKEY result, LPDWORD disposition) {
    return CreateKey(key, subKey ? subKey : "", sam, result, disposition, "RegCreateKeyExA");
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM sam, LPSECURITY_ATTRIBUTES,
                        PHKEY result, LPDWORD disposition) {
    return CreateKey(key, WideToAnsi(subKey), sam, result, disposition, "RegCreateKeyExW");
}

LSTATUS RegCloseKey(HKEY key) {
    Machine& m = Current();
    if (HiveIndex(key) >= 0) return ERROR_SUCCESS;
    uintptr_t v = (uintptr_t)key;
    if (v < kHandleBase || (v - kHandleBase) % 4) return ERROR_INVALID_HANDLE;
    size_t i = (v - kHandleBase) / 4;
    if (i >= m.regHandles.size() || !m.regHandles[i].used) return ERROR_INVALID_HANDLE;
    m.regHandles[i] = RegHandle();
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    return QueryValue(key, name ? name : "", false, type, data, cbData, "RegQueryValueExA");
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    return QueryValue(key, WideToAnsi(name), true, type, data, cbData, "RegQueryValueExW");
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
    return SetValue(key, name ? name : "", type, data, cbData, false, "RegSetValueExA");
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
    return SetValue(key, WideToAnsi(name), type, data, cbData, true, "RegSetValueExW");
}

LSTATUS RegDeleteValueA(HKEY h, LPCSTR name) {
    RegKey* key;
    LSTATUS e = KeyForCall(h, KEY_SET_VALUE, true, "RegDeleteValueA", &key);
    if (e != ERROR_SUCCESS) return e;
    std::string folded = Fold(name ? name : "");
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (Fold(it->name) == folded) {
            key->values.erase(it);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS RegDeleteKeyA(HKEY h, LPCSTR subKey) {
    Machine& m = Current();
    RegKey* key;
    REGSAM access;
    LSTATUS e = FromHandle(h, &key, &access);
    if (e != ERROR_SUCCESS) return e;
    if (!subKey) return ERROR_INVALID_PARAMETER;
    if (subKey[0] == '\\') return kErrorBadPathname;
    if (m.Fault("RegDeleteKeyA")) return ERROR_ACCESS_DENIED;
    for (const std::string& part : Split(subKey)) {
        key = Child(key, part);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    if (!key->parent || key->denyDelete || (key->denied & DELETE_ACCESS_BIT)) return ERROR_ACCESS_DENIED;
    if (!key->children.empty()) return ERROR_ACCESS_DENIED;
    Detach(m, key);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyA(HKEY h, LPSTR cls, LPDWORD cchClass, LPDWORD, LPDWORD subKeys, LPDWORD maxSubKeyLen,
                         LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                         LPDWORD cbSecurityDescriptor, PFILETIME lastWriteTime) {
    RegKey* key;
    LSTATUS e = KeyForCall(h, KEY_QUERY_VALUE, true, "RegQueryInfoKeyA", &key);
    if (e != ERROR_SUCCESS) return e;
    DWORD maxSub = 0, maxName = 0, maxData = 0;
    for (auto& kv : key->children) maxSub = std::max(maxSub, (DWORD)kv.second->name.size());
    for (const RegValue& v : key->values) {
        maxName = std::max(maxName, (DWORD)v.name.size());
        maxData = std::max(maxData, (DWORD)v.data.size());
    }
    if (cls && cchClass && *cchClass) cls[0] = 0;
    if (cchClass) *cchClass = 0;
    if (subKeys) *subKeys = (DWORD)key->children.size();
    if (maxSubKeyLen) *maxSubKeyLen = maxSub;
    if (maxClassLen) *maxClassLen = 0;
    if (values) *values = (DWORD)key->values.size();
    if (maxValueNameLen) *maxValueNameLen = maxName;
    if (maxValueLen) *maxValueLen = maxData;
    if (cbSecurityDescriptor) *cbSecurityDescriptor = 0;
    if (lastWriteTime) memset(lastWriteTime, 0, sizeof(*lastWriteTime));
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExA(HKEY h, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD, LPSTR cls, LPDWORD cchClass,
                      PFILETIME lastWriteTime) {
    RegKey* key;
    LSTATUS e = KeyForCall(h, KEY_ENUMERATE_SUB_KEYS, !(!name || !cchName), "RegEnumKeyExA", &key);
    if (e != ERROR_SUCCESS) return e;
    if (index >= key->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = key->children.begin();
    std::advance(it, index);
    const std::string& n = it->second->name;
    // Too small: nothing is copied and the count stays as it was.
    if (n.size() >= *cchName) return ERROR_MORE_DATA;
    memcpy(name, n.c_str(), n.size() + 1);
    *cchName = (DWORD)n.size();
    if (cls && cchClass && *cchClass) cls[0] = 0;
    if (cchClass) *cchClass = 0;
    if (lastWriteTime) memset(lastWriteTime, 0, sizeof(*lastWriteTime));
    return ERROR_SUCCESS;
}
