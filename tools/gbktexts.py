#!/usr/bin/env python3
"""Writes the GBK form of a UTF-8 texts.h: every narrow string literal that
holds non-ASCII text becomes GBK byte escapes, converted by iconv, so the
program's narrow texts do not depend on the compiler's execution character
set (clang has none but UTF-8).  Wide texts (inside WSZ(...)), comments and
everything else are copied unchanged.

    gbktexts.py <in texts.h> <out texts.h>
"""
import re
import subprocess
import sys

HEX = set("0123456789abcdefABCDEF")


def to_gbk(runs):
    """Converts the UTF-8 runs with one iconv call; GBK never has a 0x0A byte."""
    if not runs:
        return []
    joined = "\n".join(runs).encode("utf-8")
    out = subprocess.run(["iconv", "-f", "UTF-8", "-t", "GBK"], input=joined,
                         stdout=subprocess.PIPE, check=True).stdout
    parts = out.split(b"\n")
    if len(parts) != len(runs):
        sys.exit("gbktexts: iconv changed the number of texts")
    return parts


def tokens(src):
    """Yields (kind, text): comment, string, wsz-open, other."""
    i, n = 0, len(src)
    while i < n:
        if src.startswith("//", i):
            j = src.find("\n", i)
            j = n if j < 0 else j
            yield "other", src[i:j]
            i = j
        elif src.startswith("/*", i):
            j = src.find("*/", i + 2)
            j = n if j < 0 else j + 2
            yield "other", src[i:j]
            i = j
        elif src[i] in "\"'":
            q = src[i]
            j = i + 1
            while j < n and src[j] != q:
                j += 2 if src[j] == "\\" else 1
            kind = "string" if q == '"' else "other"
            # A prefix (u, L, u8, R) glued to the literal makes it not narrow.
            yield kind, src[i:j + 1]
            i = j + 1
        else:
            m = re.compile(r"[A-Za-z_][A-Za-z_0-9]*").match(src, i)
            if m:
                word = m.group(0)
                i = m.end()
                if src[i:i + 1] in "\"'" and word in ("u", "U", "L", "u8", "R", "u8R", "uR", "LR"):
                    q = src[i]
                    j = i + 1
                    while j < n and src[j] != q:
                        j += 2 if src[j] == "\\" else 1
                    yield "other", word + src[i:j + 1]
                    i = j + 1
                else:
                    yield ("wsz" if word == "WSZ" else "other"), word
            else:
                yield "other", src[i]
                i += 1


def convert(src):
    toks = list(tokens(src))
    # Mark the literals that lie inside WSZ( ... ): they are wide.
    wide = [False] * len(toks)
    k = 0
    while k < len(toks):
        if toks[k][0] == "wsz":
            depth = 0
            j = k + 1
            while j < len(toks):
                t = toks[j][1]
                if t == "(":
                    depth += 1
                elif t == ")":
                    depth -= 1
                    if depth == 0:
                        break
                elif toks[j][0] == "string":
                    wide[j] = True
                j += 1
            k = j
        k += 1

    # Split each narrow literal into ASCII pieces and non-ASCII runs.
    pieces, runs = [], []
    for idx, (kind, text) in enumerate(toks):
        if kind != "string" or wide[idx] or all(ord(c) < 128 for c in text):
            pieces.append(("raw", text))
            continue
        body = text[1:-1]
        parts = []
        for m in re.finditer(r"[^\x00-\x7f]+|[\x00-\x7f]+", body):
            s = m.group(0)
            if ord(s[0]) >= 128:
                parts.append(("run", len(runs)))
                runs.append(s)
            else:
                parts.append(("ascii", s))
        pieces.append(("literal", parts))

    gbk = to_gbk(runs)
    out = []
    for kind, val in pieces:
        if kind == "raw":
            out.append(val)
            continue
        lit = '"'
        after_escape = False
        for pkind, p in val:
            if pkind == "run":
                lit += "".join("\\x%02X" % b for b in gbk[p])
                after_escape = True
            else:
                # A hex digit right after "\xHH" would extend the escape.
                if after_escape and p[0] in HEX:
                    lit += '" "'
                lit += p
                after_escape = False
        out.append(lit + '"')
    return "".join(out)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        src = f.read()
    text = "// Generated from %s by tools/gbktexts.py: narrow texts as GBK bytes.\n" % sys.argv[1]
    text += convert(src)
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
