#!/bin/sh
# Tests of the archive tools on the build host.
#   tools_test.sh CASE VOZ MKPAYLOAD WORKDIR
# Each case works in its own WORKDIR (emptied first) and exits non-zero on
# the first failed check.
set -u

CASE=$1
VOZ=$2
MKPAYLOAD=$3
W=$4

rm -rf "$W"
mkdir -p "$W"
cd "$W" || exit 1

fail() {
    echo "FAIL ($CASE): $*" >&2
    exit 1
}

# A stand-in for the x64 build: any deterministic bytes will do here.
yes setupw64 | head -c 47616 > setupw64.bin

payload() {
    "$MKPAYLOAD" --setupw64 setupw64.bin --out "$1" ${2:+--dir "$2"} || fail "mkpayload failed"
}

# Runs a command that must fail with exactly one error line "voz: ...".
expect_one_line_error() {
    if "$@" > stdout.txt 2> stderr.txt; then
        fail "succeeded: $*"
    fi
    lines=$(wc -l < stderr.txt)
    [ "$lines" -eq 1 ] || { cat stderr.txt >&2; fail "$lines error lines from: $*"; }
    grep -q '^voz: ' stderr.txt || { cat stderr.txt >&2; fail "error line not prefixed 'voz: ' from: $*"; }
}

# Writes bytes (printf escapes) into FILE at OFFSET without truncating it.
patch() {
    printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2> /dev/null || fail "patching $1"
}

# A small current-format archive of two members, the first named NAME.
small_archive() {
    mkdir -p src
    printf 'first member\r\n' > "src/$2"
    printf 'second member, a little longer\r\n' > src/zz.txt
    "$VOZ" pack "$1" "src/$2" src/zz.txt || fail "pack failed"
    rm -rf src
}

case "$CASE" in
deterministic)
    payload one.voz
    payload two.voz
    cmp one.voz two.voz || fail "two runs differ"
    size=$(wc -c < one.voz)
    [ "$size" -gt 1000000 ] || fail "payload of only $size bytes"
    # Four zero bytes after the archive's end, as the shipped resource.
    [ "$(tail -c 4 one.voz | od -An -tx1 | tr -d ' \n')" = "00000000" ] || fail "no trailing zeros"
    ;;

list-test)
    payload p.voz
    "$VOZ" test p.voz > out.txt || fail "voz test fails on the sample payload"
    grep -q '88 members OK' out.txt || fail "voz test: $(cat out.txt)"
    "$VOZ" list p.voz > list.txt || fail "voz list failed"
    members=$(tail -n +3 list.txt | wc -l)
    [ "$members" -eq 88 ] || fail "voz list shows $members members"
    grep -q '^tavk1\.bmp  *373296 ' list.txt || fail "tavk1.bmp not listed with 373296 bytes"
    grep -q '^小天使\.voz  *23673 ' list.txt || fail "GBK name not shown as UTF-8 with its size"
    head -1 list.txt | grep -q 'current format, 88 members' || fail "header line: $(head -1 list.txt)"
    # The skin archives are legacy archives without digests.
    "$VOZ" extract p.voz all || fail "extract"
    "$VOZ" list all/冷色瓷面.voz > skin.txt || fail "list skin"
    head -1 skin.txt | grep -q 'legacy format, 8 members, total length 12825' || fail "skin: $(head -1 skin.txt)"
    grep -q '^vobmpsx7\.bmp .* -$' skin.txt || fail "legacy digest column is not -"
    "$VOZ" test all/小天使.voz > /dev/null || fail "skin archive fails voz test"
    "$VOZ" test --payload p.voz > /dev/null || fail "the sample payload fails the payload's rules"
    # A backup may hold an emptied word list and a dictionary past the work
    # buffer, which the restore takes; the payload's rules refuse both.
    : > delck.txt
    head -c 3000000 /dev/zero > vornzdym.voh
    "$VOZ" pack backup.voz delck.txt vornzdym.voh || fail "pack a backup"
    "$VOZ" test backup.voz > /dev/null || fail "voz test refuses what the restore takes"
    "$VOZ" test --payload backup.voz 2> payload-rules.txt && fail "--payload passes an empty member"
    grep -q '0 bytes' payload-rules.txt && grep -q 'work buffer' payload-rules.txt ||
        fail "--payload: $(cat payload-rules.txt)"
    "$VOZ" --help | grep -q '^usage: voz list FILE' || fail "--help"
    "$VOZ" > /dev/null 2>&1 && fail "no arguments succeeded"
    [ $? -eq 2 ] || fail "usage error is not exit 2"
    ;;

roundtrip)
    payload p.voz dir
    "$VOZ" extract p.voz out || fail "extract"
    diff -r dir out > /dev/null || fail "extracted files differ from the generated ones"
    # pack writes no trailing bytes; otherwise the same archive.
    "$VOZ" pack again.voz out || fail "pack"
    size=$(wc -c < p.voz)
    head -c $((size - 4)) p.voz > p-bare.voz
    cmp p-bare.voz again.voz || fail "extract + pack does not give the payload back"
    "$VOZ" pack-payload out again-payload.voz || fail "pack-payload"
    cmp p.voz again-payload.voz || fail "pack-payload does not give the payload back"
    # A legacy skin archive round-trips with --legacy.
    "$VOZ" extract out/粉色瓷面.voz skin || fail "extract skin"
    "$VOZ" pack --legacy skin.voz skin || fail "pack --legacy"
    cmp skin.voz out/粉色瓷面.voz || fail "legacy round trip differs"
    ;;

corrupt)
    small_archive good.voz abcd
    size=$(wc -c < good.voz)
    "$VOZ" test good.voz > /dev/null || fail "the base archive is not sound"

    head -c 9 good.voz > short-header.voz
    head -c $((size - 5)) good.voz > truncated.voz
    cp good.voz count.voz && patch count.voz 6 '\011\000\000\000'
    cp good.voz length.voz && patch length.voz 62 '\377\377\377\177'
    cp good.voz unterminated.voz && patch unterminated.voz 12 'AAAAAAAAAAAAAAAA'
    cp good.voz marker.voz && patch marker.voz 10 'XX'
    cp good.voz zlib.voz && patch zlib.voz 68 '\377\377\377\377'
    cp good.voz digest.voz && patch digest.voz 28 'x'
    for f in short-header truncated count length unterminated marker zlib digest; do
        expect_one_line_error "$VOZ" test $f.voz
        mkdir -p guard
        expect_one_line_error "$VOZ" extract $f.voz guard/out
        # Whatever was written stays inside guard/out.
        [ -z "$(ls -A guard | grep -v '^out$')" ] || fail "$f: extract wrote outside its directory"
        rm -rf guard
    done
    "$VOZ" test length.voz 2>&1 | grep -q '^voz: length.voz: member 1 (abcd): compressed data past the end of the archive$' ||
        fail "message for a length past the end"
    "$VOZ" test count.voz 2>&1 | grep -q 'member 3' || fail "message for a count too high"

    # Names that are not bare file names: nothing is written at all.
    for name in '..\\x' 'a:b' '../x' '..'; do
        small_archive bad.voz abcd
        # Overwrite the 4-byte name "abcd" (keep the terminator after it).
        patch bad.voz 12 "$name\000"
        mkdir -p guard
        expect_one_line_error "$VOZ" extract bad.voz guard/out
        grep -q 'not a bare file name' stderr.txt || fail "$name: $(cat stderr.txt)"
        [ ! -e guard/out ] || [ -z "$(ls -A guard/out)" ] || fail "$name: extract wrote files"
        [ -z "$(ls -A guard | grep -v '^out$')" ] || fail "$name: extract wrote outside its directory"
        [ ! -e x ] || fail "$name: wrote ./x"
        expect_one_line_error "$VOZ" test bad.voz
        rm -rf guard bad.voz
    done

    # A symbolic link planted in the target directory is not followed.
    small_archive link.voz abcd
    mkdir -p trap
    ln -s ../victim trap/abcd
    "$VOZ" extract link.voz trap > /dev/null 2>&1 && fail "extract followed a planted link"
    [ ! -e victim ] || fail "extract wrote through a symbolic link"
    ;;

pack-refusals)
    mkdir in
    printf 'x' > in/abcdefghijklm.txt
    expect_one_line_error "$VOZ" pack out.voz in/abcdefghijklm.txt
    grep -q 'more than 12' stderr.txt || fail "too-long name: $(cat stderr.txt)"
    rm in/abcdefghijklm.txt
    printf 'x' > in/same.txt
    printf 'y' > in/SAME.TXT
    expect_one_line_error "$VOZ" pack out.voz in
    grep -q 'duplicate' stderr.txt || fail "duplicate: $(cat stderr.txt)"
    expect_one_line_error "$VOZ" pack out.voz in/same.txt in/same.txt
    [ ! -e out.voz ] || fail "a refused pack left out.voz"
    ls | grep -q '\.tmp' && fail "a refused pack left a temporary file"
    # Twelve GBK bytes fit.
    printf 'skin' > in/冷色瓷面.voz
    rm in/SAME.TXT
    "$VOZ" pack out.voz in || fail "a 12-byte GBK name was refused"
    "$VOZ" list out.voz | grep -q '^冷色瓷面\.voz ' || fail "GBK member not listed"
    ;;

pack-payload-refusals)
    payload p.voz dir
    "$VOZ" pack-payload dir ok.voz || fail "the generated directory is refused"

    mv dir/tavk1.bmp tavk1.bmp
    expect_one_line_error "$VOZ" pack-payload dir out.voz
    grep -q 'lacks 1 member file .*tavk1\.bmp' stderr.txt || fail "missing: $(cat stderr.txt)"
    mv tavk1.bmp dir/TAVK1.BMP
    expect_one_line_error "$VOZ" pack-payload dir out.voz
    grep -q 'found TAVK1.BMP' stderr.txt || fail "case: $(cat stderr.txt)"
    mv dir/TAVK1.BMP dir/tavk1.bmp

    printf 'x' > dir/vornextra001.txt
    expect_one_line_error "$VOZ" pack-payload dir out.voz
    grep -q 'more than 12' stderr.txt || fail "long name: $(cat stderr.txt)"
    rm dir/vornextra001.txt

    # One byte more than the work buffer holds: 2,097,152 - 100 - 44 + 1.
    cp dir/vornpyck.bak vornpyck.bak
    head -c 2097009 /dev/zero > dir/vornpyck.bak
    expect_one_line_error "$VOZ" pack-payload dir out.voz
    grep -q 'vornpyck.bak: 2097009 bytes' stderr.txt || fail "oversized: $(cat stderr.txt)"
    # Exactly the work buffer's capacity is accepted.
    head -c 2097008 /dev/zero > dir/vornpyck.bak
    "$VOZ" pack-payload dir full.voz || fail "a member of exactly 2097008 bytes was refused"
    cp vornpyck.bak dir/vornpyck.bak

    mkdir dir/sub
    expect_one_line_error "$VOZ" pack-payload dir out.voz
    rmdir dir/sub
    [ ! -e out.voz ] || fail "a refused pack-payload left out.voz"
    ;;

windows-names)
    # Device names: pack refuses them, and an archive holding one fails test
    # and extracts nothing.
    for name in CON nul COM1.txt 'con .txt' lpt9; do
        mkdir in
        printf 'x' > "in/$name"
        expect_one_line_error "$VOZ" pack out.voz "in/$name"
        rm -rf in
        small_archive bad.voz abcd
        patch bad.voz 12 "$name\000"
        expect_one_line_error "$VOZ" test bad.voz
        grep -q 'device name' stderr.txt || fail "$name: $(cat stderr.txt)"
        expect_one_line_error "$VOZ" extract bad.voz out
        [ ! -e out ] || [ -z "$(ls -A out)" ] || fail "$name: extract wrote files"
        rm -rf out bad.voz
    done
    # Names that are one file on Windows: letter case, trailing dots.
    for pair in 'a.txt A.TXT' 'a.txt a.txt.' 'a.txt a.txt ' ; do
        first=${pair%% *}
        second=${pair#* }
        mkdir -p src
        printf 'one' > src/a.txt
        printf 'two' > src/b.txt
        "$VOZ" pack two.voz src/a.txt src/b.txt || fail "pack"
        rm -rf src
        # The second record follows the first member's compressed bytes.
        clen=$(od -An -tu4 -j 62 -N 4 two.voz | tr -d ' ')
        patch two.voz $((10 + 56 + clen + 2)) "$second\000"
        expect_one_line_error "$VOZ" test two.voz
        grep -q 'one file on Windows' stderr.txt || fail "'$second': $(cat stderr.txt)"
        expect_one_line_error "$VOZ" extract two.voz out
        [ ! -e out ] || [ -z "$(ls -A out)" ] || fail "'$second': extract wrote files"
        rm -rf out two.voz
        [ "$first" = a.txt ] || fail "bad pair"
    done
    mkdir in
    printf 'x' > in/a.txt
    printf 'y' > in/a.txt.
    expect_one_line_error "$VOZ" pack out.voz in
    grep -q 'duplicate' stderr.txt || fail "pack of a.txt and a.txt.: $(cat stderr.txt)"
    ;;

extract-traps)
    small_archive t.voz abcd
    # A hard link planted in the target directory: the member gets a new
    # file, the file outside keeps its bytes.
    mkdir out
    printf 'victim' > victim.txt
    ln victim.txt out/abcd
    "$VOZ" extract t.voz out > /dev/null || fail "extract over a planted hard link"
    [ "$(cat victim.txt)" = victim ] || fail "extract wrote through a hard link"
    printf 'first member\r\n' | cmp - out/abcd || fail "the member's own file is wrong"
    # A FIFO of a member's name: refused at once, never opened.
    rm -rf out
    mkdir out
    mkfifo out/abcd
    timeout 20 "$VOZ" extract t.voz out > /dev/null 2> stderr.txt
    rc=$?
    [ $rc -ne 124 ] || fail "extract blocked on a FIFO"
    [ $rc -ne 0 ] || fail "extract over a FIFO succeeded"
    grep -q 'not a regular file' stderr.txt || fail "FIFO: $(cat stderr.txt)"
    [ -p out/abcd ] || fail "the FIFO was replaced"
    ;;

member)
    # A given member is carried as it is, padded with zero bytes to its shipped size.
    printf 'MZ a small input method' > small.ime
    "$MKPAYLOAD" --setupw64 setupw64.bin --out p.voz --member vorn320.ime=small.ime || fail "mkpayload --member"
    "$VOZ" extract p.voz all || fail "extract"
    [ "$(wc -c < all/vorn320.ime)" -eq 40960 ] || fail "vorn320.ime is $(wc -c < all/vorn320.ime) bytes"
    head -c 23 all/vorn320.ime | cmp -s - small.ime || fail "vorn320.ime does not start with the given file"
    [ "$(tail -c +24 all/vorn320.ime | tr -d '\000' | wc -c)" -eq 0 ] || fail "padding is not zero bytes"
    # Larger than the shipped size, or not a member: refused, no archive.
    head -c 40961 /dev/zero > big.ime
    "$MKPAYLOAD" --setupw64 setupw64.bin --out q.voz --member vorn320.ime=big.ime 2> /dev/null &&
        fail "a member larger than its shipped size was taken"
    "$MKPAYLOAD" --setupw64 setupw64.bin --out q.voz --member vorn999.ime=small.ime 2> /dev/null &&
        fail "an unknown member name was taken"
    [ ! -e q.voz ] || fail "a refused run left q.voz"
    ;;

*)
    fail "unknown case"
    ;;
esac
exit 0
