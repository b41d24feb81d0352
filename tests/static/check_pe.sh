#!/usr/bin/env bash
# Static checks of a built setup executable, for what a Linux machine cannot
# run (the i686 build) and what Wine would forgive:
#   check_pe.sh EXE pe32|pe32+ [nopayload]
# - the PE format (pe32: i686, PE32; pe32+: x86-64, PE32+);
# - the GUI subsystem (2), and a subsystem version old enough for the oldest
#   Windows of the format (NT 4.0 for pe32, XP x64 / 5.2 for pe32+);
# - imports only from DLLs every Windows from NT to 7 has: KERNEL32, USER32,
#   GDI32, ADVAPI32, IMM32, SHELL32, msvcrt (no libgcc_s, libstdc++,
#   zlib1.dll, libwinpthread...), and none of the functions those DLLs only
#   have from Vista on (such a function must be looked up at run time);
# - a manifest resource (type 24, id 1) asking for requireAdministrator
#   (asInvoker with "nopayload": the 64-bit program is also the per-user
#   step every user's logon runs, never elevated) and
#   declaring Windows Vista, 7, 8, 8.1 and 10/11 in its compatibility
#   section (without 8.1 and 10, Windows 8.1 and later report 6.2);
# - the skin dialog templates "PYKEY" (language 2052) and "PYKEYB" (1028):
#   caption, font, and every control's id, kind, position, size and text;
# - unless "nopayload": the payload, resource type "VOZ" name "TAVKVOZ",
#   language 2052, holding a current-format archive of 88 members;
# - the version resource (language 2052, translation 0804/1200): the numbers
#   of setup/version.h, ProductName, the program's Chinese FileDescription,
#   OriginalFilename its own name, a CompanyName and LegalCopyright.
# Prints each check; exits non-zero when any fails.
set -uo pipefail

exe=${1:-}
kind=${2:-}
payload=${3:-payload}
if [[ -z "$exe" || ( "$kind" != pe32 && "$kind" != pe32+ ) ]]; then
  echo "usage: $0 EXE pe32|pe32+ [nopayload]" >&2
  exit 2
fi
if [[ ! -f "$exe" ]]; then
  echo "FAIL: $exe does not exist"
  exit 1
fi

if [[ "$kind" == pe32 ]]; then
  objdump=i686-w64-mingw32-objdump
  want_format=pei-i386
  want_magic="010b"
  max_subsystem=4.0
else
  objdump=x86_64-w64-mingw32-objdump
  want_format=pei-x86-64
  want_magic="020b"
  max_subsystem=5.2
fi
command -v "$objdump" >/dev/null || objdump=objdump

failures=0
pass() { echo "ok:   $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$("$objdump" -p "$exe" 2>&1) || { echo "FAIL: $objdump cannot read $exe"; echo "$headers" | head -5; exit 1; }

echo "checking $exe ($kind, $(stat -c %s "$exe") bytes)"

format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$headers" | head -1)
[[ "$format" == "$want_format" ]] && pass "file format $format" || fail "file format '$format', expected $want_format"

magic=$(awk '$1 == "Magic" {print $2}' <<<"$headers" | head -1)
[[ "$magic" == "$want_magic" ]] && pass "optional header magic $magic ($kind)" || fail "optional header magic '$magic', expected $want_magic"

subsystem=$(awk '$1 == "Subsystem" {print $2}' <<<"$headers" | head -1)
if [[ "$subsystem" =~ ^0*2$ ]]; then pass "subsystem 2 (Windows GUI)"; else fail "subsystem '$subsystem', expected 2 (Windows GUI)"; fi

sub_major=$(awk '$1 == "MajorSubsystemVersion" {print $2}' <<<"$headers" | head -1)
sub_minor=$(awk '$1 == "MinorSubsystemVersion" {print $2}' <<<"$headers" | head -1)
if [[ -n "$sub_major" && -n "$sub_minor" ]] &&
   awk -v v="$sub_major.$sub_minor" -v max="$max_subsystem" 'BEGIN { exit !(v + 0 <= max + 0) }'; then
  pass "subsystem version $sub_major.$sub_minor (at most $max_subsystem)"
else
  fail "subsystem version '$sub_major.$sub_minor' is newer than $max_subsystem: older Windows refuse to load it"
fi

allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll imm32.dll shell32.dll msvcrt.dll"
dlls=$(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$headers" | tr -d '\r')
if [[ -z "$dlls" ]]; then
  fail "no import table found"
fi
bad_dlls=""
for dll in $dlls; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  [[ " $allowed " == *" $lower "* ]] || bad_dlls+=" $dll"
done
if [[ -z "$bad_dlls" ]]; then
  pass "imports only from: $(echo $dlls)"
else
  fail "imports from DLLs outside the allowed set:$bad_dlls"
fi

# Functions these DLLs export only from Vista on (or only on 64-bit XP).
vista_only="GetTickCount64 GetSystemTimePreciseAsFileTime InitializeCriticalSectionEx InitOnceExecuteOnce
InitOnceBeginInitialize InitOnceComplete InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared
ReleaseSRWLockExclusive ReleaseSRWLockShared TryAcquireSRWLockExclusive InitializeConditionVariable
SleepConditionVariableCS SleepConditionVariableSRW WakeConditionVariable WakeAllConditionVariable
FlsAlloc FlsFree FlsGetValue FlsSetValue CreateSymbolicLinkA CreateSymbolicLinkW
GetFinalPathNameByHandleA GetFinalPathNameByHandleW Wow64DisableWow64FsRedirection
Wow64RevertWow64FsRedirection Wow64EnableWow64FsRedirection RegDeleteKeyExA RegDeleteKeyExW
RegGetValueA RegGetValueW RegSetKeyValueA RegSetKeyValueW RegDeleteTreeA RegDeleteTreeW
CompareStringEx LCIDToLocaleName LocaleNameToLCID GetUserDefaultLocaleName GetLocaleInfoEx
SetFileInformationByHandle GetFileInformationByHandleEx CreateFile2 GetErrorMode
QueryFullProcessImageNameA QueryFullProcessImageNameW SHGetKnownFolderPath
ChangeWindowMessageFilter ChangeWindowMessageFilterEx SetProcessDPIAware
GetThreadPreferredUILanguages SetThreadPreferredUILanguages GetUserPreferredUILanguages"
imports=$(awk '/DLL Name:/ {in_dll = 1; next} in_dll && NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print $3}' <<<"$headers" | sort -u)
late=""
for fn in $vista_only; do
  grep -qx "$fn" <<<"$imports" && late+=" $fn"
done
if [[ -z "$late" ]]; then
  pass "$(wc -l <<<"$imports") imported functions, none of them Vista-only"
else
  fail "imports functions Windows XP does not have (look them up with GetProcAddress):$late"
fi

# Resources: walk .rsrc directly (type -> name -> language -> data).
version_h=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/setup/version.h
resources=$(python3 - "$exe" "$payload" "$version_h" <<'PY'
import os, re, struct, sys

path, payload, version_h = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(path, "rb").read()

def u16(o): return struct.unpack_from("<H", data, o)[0]
def u32(o): return struct.unpack_from("<I", data, o)[0]

def out(status, text):
    print("%s %s" % (status, text))

try:
    pe = u32(0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    nsect = u16(pe + 6)
    opt = pe + 24
    magic = u16(opt)
    ddir = opt + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = u32(ddir + 2 * 8), u32(ddir + 2 * 8 + 4)
    sections = []
    sect = opt + u16(pe + 20)
    for i in range(nsect):
        s = sect + 40 * i
        sections.append((u32(s + 12), max(u32(s + 8), u32(s + 16)), u32(s + 20), u32(s + 16)))
    def rva_to_off(rva, length):
        for va, vsize, raw, rawsize in sections:
            if va <= rva and rva + length <= va + min(vsize, rawsize if rawsize else vsize):
                return raw + (rva - va)
        raise ValueError("RVA %#x (+%d) outside every section" % (rva, length))
    if not rsrc_rva:
        raise ValueError("no resource directory")
    base = rva_to_off(rsrc_rva, rsrc_size)

    def entries(off):
        named, ids = u16(base + off + 12), u16(base + off + 14)
        for i in range(named + ids):
            e = base + off + 16 + 8 * i
            name, target = u32(e), u32(e + 4)
            if name & 0x80000000:
                so = base + (name & 0x7FFFFFFF)
                key = data[so + 2:so + 2 + 2 * u16(so)].decode("utf-16-le")
            else:
                key = name
            yield key, target

    found = {}
    for rtype, t1 in entries(0):
        for rname, t2 in entries(t1 & 0x7FFFFFFF):
            for lang, t3 in entries(t2 & 0x7FFFFFFF):
                leaf = base + (t3 & 0x7FFFFFFF)
                drva, dsize = u32(leaf), u32(leaf + 4)
                found[(rtype, rname)] = (lang, data[rva_to_off(drva, dsize):rva_to_off(drva, dsize) + dsize])
    out("info", "resources: " + ", ".join("%s/%s" % k for k in found))

    manifest = found.get((24, 1))
    if manifest is None:
        out("FAIL", "no manifest resource (type 24, id 1)")
    else:
        text = manifest[1].decode("utf-8", "replace")
        level = "asInvoker" if payload == "nopayload" else "requireAdministrator"
        if 'level="%s"' % level in text.replace("'", '"'):
            out("ok", "manifest (%d bytes) asks for %s" % (len(manifest[1]), level))
        else:
            out("FAIL", "the manifest does not ask for %s" % level)
        systems = {"Vista": "e2011457-1546-43c5-a5fe-008deee3d3f0", "7": "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                   "8": "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "8.1": "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                   "10/11": "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}
        compat = re.search(r'<compatibility\s+xmlns="urn:schemas-microsoft-com:compatibility\.v1"\s*>\s*'
                           r'<application>(.*?)</application>\s*</compatibility>', text, re.S)
        declared = set(re.findall(r'<supportedOS\s+Id="\{([0-9a-fA-F-]+)\}"\s*/>',
                                  re.sub(r"<!--.*?-->", "", compat.group(1), flags=re.S))) if compat else set()
        missing = [name for name, guid in systems.items() if guid not in {d.lower() for d in declared}]
        if missing:
            out("FAIL", "the manifest's compatibility section does not declare Windows %s" % ", ".join(missing))
        else:
            out("ok", "manifest declares Windows %s" % ", ".join(systems))

    # Dialog templates (DLGTEMPLATEEX): header, then DWORD-aligned items.
    BUTTON, STATIC = 0x80, 0x82
    DEF_PUSH, GROUP, RADIO, TEXT = ("button", 1), ("button", 7), ("button", 9), ("static", 0)
    controls = [  # id, kind, x, y, cx, cy, PYKEY text, PYKEYB text
        (105, DEF_PUSH, 88, 117, 44, 14, "确定", "確定"),
        (0xFFFF, GROUP, 6, 8, 204, 39, "输入法状态窗口模式选择", "輸入法狀態窗口模式選擇"),
        (0xFFFF, GROUP, 6, 54, 204, 39, "输入法皮肤选择", "輸入法皮膚選擇"),
        (101, RADIO, 15, 25, 44, 10, "双行窗口", "雙行窗口"),
        (102, RADIO, 66, 25, 44, 10, "单行窗口", "單行窗口"),
        (106, RADIO, 113, 25, 36, 10, "双窗口", "雙窗口"),
        (107, RADIO, 155, 25, 48, 10, "仿WIN窗口", "仿WIN窗口"),
        (110, RADIO, 15, 72, 48, 10, "冷色瓷面", "冷色瓷面"),
        (111, RADIO, 84, 72, 48, 10, "粉色瓷面", "粉色瓷面"),
        (112, RADIO, 150, 71, 40, 10, "小天使", "小天使"),
        (0xFFFF, TEXT, 13, 99, 145, 8, "注：你也可在安装完毕后改变这些参数。", "注：你也可在安裝完畢后改變這些參數。"),
    ]
    dialogs = [("PYKEY", 2052, "智能砚舟皮肤及窗口模式选择", (12, 400, 134, "宋体"), 6),
               ("PYKEYB", 1028, "智能硯舟皮膚及窗口模式選擇", (10, None, 1, "System"), 7)]
    def sz(blob, o):
        end = o
        while blob[end:end + 2] != b"\0\0":
            if end + 2 > len(blob):
                raise ValueError("text runs past its template")
            end += 2
        return blob[o:end].decode("utf-16-le"), end + 2
    def sz_or_ord(blob, o):
        if blob[o:o + 2] == b"\xff\xff":
            return struct.unpack_from("<H", blob, o + 2)[0], o + 4
        return sz(blob, o)
    for name, want_lang, caption, font, text_col in dialogs:
        entry = found.get((5, name))
        if entry is None:
            out("FAIL", 'no dialog template "%s"' % name)
            continue
        lang, blob = entry
        problems = []
        if lang != want_lang:
            problems.append("language %s, expected %s" % (lang, want_lang))
        ver, sig, _, _, style, count = struct.unpack_from("<HHIIIH", blob, 0)
        geometry = struct.unpack_from("<hhhh", blob, 18)
        if (ver, sig) != (1, 0xFFFF):
            problems.append("not an extended template")
        if style != 0x80C800C0:  # WS_POPUP|WS_CAPTION|WS_SYSMENU|DS_MODALFRAME|DS_SETFONT
            problems.append("style %#x" % style)
        if geometry != (10, 15, 219, 140):
            problems.append("position and size %s" % (geometry,))
        _, o = sz_or_ord(blob, 26)          # menu
        _, o = sz_or_ord(blob, o)           # class
        title, o = sz(blob, o)
        if title != caption:
            problems.append("caption %r" % title)
        points, weight, _, charset = struct.unpack_from("<HHBB", blob, o)
        face, o = sz(blob, o + 6)
        if (points, charset, face) != (font[0], font[2], font[3]) or (font[1] is not None and weight != font[1]):
            problems.append("font %s %s %s %s" % (points, weight, charset, face))
        if count != len(controls):
            problems.append("%d controls, expected %d" % (count, len(controls)))
        for want in controls[:count]:
            o = (o + 3) & ~3
            _, _, cstyle, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhI", blob, o)
            cls, o = sz_or_ord(blob, o + 24)
            text, o = sz_or_ord(blob, o)
            extra = struct.unpack_from("<H", blob, o)[0]
            o += 2 + extra
            kind = ("button" if cls == BUTTON else "static" if cls == STATIC else cls, cstyle & 0xF)
            got = (cid & 0xFFFF, kind, x, y, cx, cy, text)
            expected = want[:6] + (want[text_col],)
            if got != expected:
                problems.append("control %s: %s" % (want[0], got))
        if problems:
            out("FAIL", 'dialog "%s": %s' % (name, "; ".join(problems)))
        else:
            out("ok", 'dialog "%s" (language %d): caption, font and %d controls as designed' % (name, lang, count))

    # VS_VERSIONINFO: nodes of length, value length, type (1: text), key,
    # value, children, each DWORD-aligned.
    def node(blob, o):
        length, vlen, vtype = struct.unpack_from("<HHH", blob, o)
        key, v = sz(blob, o + 6)
        v = (v + 3) & ~3
        value = blob[v:v + 2 * vlen].decode("utf-16-le").rstrip("\0") if vtype == 1 else blob[v:v + vlen]
        c, children = (v + (2 * vlen if vtype == 1 else vlen) + 3) & ~3, []
        while c < o + length:
            children.append(node(blob, c))
            c = (children[-1][3] + 3) & ~3
        return key, value, children, o + length
    numbers = dict(re.findall(r"#define VORN_VERSION_(MAJOR|MINOR|BUILD|REVISION) (\d+)", open(version_h).read()))
    want_version = ".".join(numbers[k] for k in ("MAJOR", "MINOR", "BUILD", "REVISION"))
    want_strings = {"ProductName": "智能砚舟", "FileVersion": want_version, "ProductVersion": want_version,
                    "OriginalFilename": os.path.basename(path),
                    "FileDescription": "智能砚舟 64 位注册程序" if payload == "nopayload" else "智能砚舟安装程序"}
    version = found.get((16, 1))
    try:
        if version is None:
            raise ValueError("no version resource (type 16, id 1)")
        lang, blob = version
        key, fixed, children, _ = node(blob, 0)
        problems = [] if lang == 2052 else ["language %s" % lang]
        sig, _, fms, fls, pms, pls = struct.unpack_from("<6I", fixed)
        fixed_version = "%d.%d.%d.%d" % (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF)
        if key != "VS_VERSION_INFO" or sig != 0xFEEF04BD or (fms, fls) != (pms, pls) or fixed_version != want_version:
            problems.append("fixed part: %s %#x file %s" % (key, sig, fixed_version))
        blocks = {k: c for k, _, c, _ in children}
        tables = {k: {name: text for name, text, _, _ in c} for k, _, c, _ in blocks.get("StringFileInfo", [])}
        strings = tables.get("080404b0", tables.get("080404B0", {}))
        if len(tables) != 1 or not strings:
            problems.append("string tables %s, expected one 080404B0" % sorted(tables))
        problems += ["%s %r" % (k, strings.get(k)) for k, v in want_strings.items() if strings.get(k) != v]
        problems += ["%s empty" % k for k in ("CompanyName", "LegalCopyright") if not strings.get(k)]
        translation = [v for k, v, _, _ in blocks.get("VarFileInfo", []) if k == "Translation"]
        if translation != [struct.pack("<HH", 0x0804, 1200)]:
            problems.append("translation %r, expected 0804/1200" % translation)
        if problems:
            out("FAIL", "version resource: " + "; ".join(problems))
        else:
            out("ok", "version resource %s (language 2052, 0804/1200): %s" % (
                want_version, ", ".join("%s %s" % kv for kv in sorted(strings.items()))))
    except (ValueError, struct.error, IndexError, UnicodeDecodeError) as e:
        out("FAIL", "version resource unreadable: %s" % e)

    if payload != "nopayload":
        voz = found.get(("VOZ", "TAVKVOZ"))
        if voz is None:
            out("FAIL", 'no payload resource (type "VOZ", name "TAVKVOZ")')
        else:
            lang, blob = voz
            if lang == 2052:
                out("ok", "payload resource language 2052")
            else:
                out("FAIL", "payload resource language %s, expected 2052" % lang)
            count = struct.unpack_from("<I", blob, 6)[0] if len(blob) >= 10 else None
            total = struct.unpack_from("<I", blob, 2)[0] if len(blob) >= 10 else None
            if blob[:2] == b"V0" and count == 88 and total is not None and total <= len(blob):
                out("ok", "payload resource: %d bytes, archive of %d members, total length %d" % (len(blob), count, total))
            else:
                out("FAIL", "payload resource is not a current-format archive of 88 members "
                            "(starts %r, count %s, total %s, %d bytes)" % (blob[:2], count, total, len(blob)))
    elif ("VOZ", "TAVKVOZ") in found:
        out("info", "carries a payload resource too")
except (ValueError, struct.error, IndexError) as e:
    out("FAIL", "resources unreadable: %s" % e)
PY
)
while IFS= read -r line; do
  case "$line" in
    "ok "*) pass "${line#ok }" ;;
    "FAIL "*) fail "${line#FAIL }" ;;
    "info "*) echo "      ${line#info }" ;;
    *) [[ -n "$line" ]] && fail "resource check: $line" ;;
  esac
done <<<"$resources"

if (( failures )); then
  echo "$failures check(s) failed for $exe"
  exit 1
fi
echo "all checks passed for $exe"
