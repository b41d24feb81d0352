// The payload resource and the work buffer, unpacking archives into the
// installation directory with a digest check, verifying what was unpacked,
// and the restore of the user's backup archive.
//
// Archives are untrusted: the backup archive comes from disk, and any of them
// may be damaged.  Every walk goes through the bounded walker of voz.cpp with
// the archive's byte count; member names that are not bare file names are
// never written or read.
#include <zlib.h>

#include "payload/payload.h"
#include "payload/texts.h"
#include "payload/voz.h"
#include "setup/context.h"
#include "setup/log.h"

enum {
    kNameArea = 100,          // work area: the member's name, then the expanded bytes
    kDigestReserve = 44,      // kept free behind the expanded bytes for the digest
    kDigestGap = 10,          // between the expanded bytes and their digest
    kArchiveFileBytes = 131072,
    kTrailerBytes = 12,
    kRestoreMinBytes = 100,
    kRestoreSlack = 200,
    kExclusionsOffset = 4096,
    kRestoreMaxArchiveBytes = 0x7FFF0000,  // its lengths are 32-bit; nothing the backup writes comes near
    kAloneFirstRoom = 2 * kWorkBufferBytes,  // a member that did not fit the work area
};

bool OpenPayload(void) {
    if (!g_ctx.payload) {
        HRSRC res = FindResourceExA(NULL, PAYLOAD_RES_TYPE, PAYLOAD_RES_NAME,
                                    MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
        if (!res) res = FindResourceA(NULL, PAYLOAD_RES_NAME, PAYLOAD_RES_TYPE);
        HGLOBAL loaded = res ? LoadResource(NULL, res) : NULL;
        const BYTE* bytes = loaded ? (const BYTE*)LockResource(loaded) : NULL;
        if (bytes) {
            g_ctx.payloadResource = loaded;
            g_ctx.payload = bytes;
            g_ctx.payloadBytes = SizeofResource(NULL, res);
        }
    }
    if (!g_ctx.workBuffer) {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kWorkBufferBytes);
        BYTE* buffer = memory ? (BYTE*)GlobalLock(memory) : NULL;
        if (buffer) {
            g_ctx.workMemory = memory;
            g_ctx.workBuffer = buffer;
        } else if (memory) {
            GlobalFree(memory);
        }
    }
    return g_ctx.payload != NULL && g_ctx.workBuffer != NULL;
}

void ClosePayload(void) {
    if (g_ctx.workMemory) {
        GlobalUnlock(g_ctx.workMemory);
        GlobalFree(g_ctx.workMemory);
    }
    if (g_ctx.payloadResource) FreeResource(g_ctx.payloadResource);
    g_ctx.workMemory = NULL;
    g_ctx.workBuffer = NULL;
    g_ctx.payloadResource = NULL;
    g_ctx.payload = NULL;
    g_ctx.payloadBytes = 0;
}

// Appends `piece` whole, or nothing when it would not fit in `cb` bytes
// (a cut GBK text would end in half a character).
static bool AppendWhole(char* text, size_t cb, LPCSTR piece) {
    size_t used = strlen(text);
    size_t add = strlen(piece);
    if (used + add + 1 > cb) return false;
    memcpy(text + used, piece, add + 1);
    return true;
}

// The path of a member in the installation directory; false for a name that
// could lead anywhere else, or a path too long to hold.
static bool MemberPath(char* path, size_t cbPath, LPCSTR name) {
    // A device name would be written to a port or printer.
    if (!VozIsMemberName(name)) return false;
    return FormatPath(path, cbPath, FMT_IN_DIR, g_ctx.installDir, name);
}

// True when the computed digest is a real one and equals the record's field
// (which is read only inside its 33 bytes: it may lack its terminator).
static bool DigestMatches(const char computed[kDigestChars], const char* recorded) {
    return computed[0] != 0 && memcmp(computed, recorded, kVozDigestField) == 0;
}

static inline bool IsGbkPair(const BYTE* text, DWORD r, DWORD n) {
    return r + 1 < n && text[r] > 0x80 && text[r + 1] > 0x3F;
}

static inline bool IsSeparator(const BYTE* text, DWORD r, DWORD n) {
    return r + 1 < n && text[r] == ';' && text[r + 1] == ' ';
}

// The five-stroke phrase list is a GBK text of words, each followed by "; ".
// The input method trusts it only with a trailer: "VORN", the byte sum and
// the word count.  Words of one character, words without their "; " and
// stray bytes are dropped; the rewrite never grows the text, and nothing
// outside the `n` bytes is read.  Returns the text's new length m; the
// trailer occupies m .. m + 11, which the caller must have room for.
DWORD AddPhraseListTrailer(BYTE* text, DWORD n) {
    if (n >= kTrailerBytes && memcmp(text + n - kTrailerBytes, PHRASE_TRAILER_TAG, 4) == 0) return n - kTrailerBytes;
    DWORD r = 0, w = 0;
    DWORD sum = 0, words = 0;
    while (r < n) {
        DWORD w0 = w;
        DWORD chars = 0;
        while (IsGbkPair(text, r, n)) {
            sum += text[r] + text[r + 1];
            text[w] = text[r];
            text[w + 1] = text[r + 1];
            r += 2;
            w += 2;
            chars++;
        }
        if (chars >= 2 && IsSeparator(text, r, n)) {
            words++;
            text[w] = text[r];
            text[w + 1] = text[r + 1];
            r += 2;
            w += 2;
            continue;
        }
        w = w0;
        if (r >= n) break;
        while (r < n && text[r] != ';' && !(r + 1 < n && text[r + 1] == ' ')) r++;
        if (r >= n) break;
        // The separator that ends the dropped word stays; a lone last byte is all there is of it.
        text[w++] = text[r++];
        if (r < n) text[w++] = text[r++];
    }
    memcpy(text + w, PHRASE_TRAILER_TAG, 4);
    VozPutLe32(text + w + 4, sum);
    VozPutLe32(text + w + 8, words);
    return w;
}

static void ReportMemberFailure(LPCSTR name) {
    char text[128 + kVozNameField];
    snprintf(text, sizeof(text), MSG_MEMBER_FAILED_FMT, name);
    ShowFailureA(text, PAYLOAD_TITLE_INSTALL);
}

// A member too large for the work area (a user's dictionary may pass the
// 2 MiB the payload is built for) is expanded into a block of its own that
// grows with the stream up to `cbLargest`, with the digest's reserve behind
// it.  Null when the stream is damaged or would pass the limit.
static HGLOBAL ExpandAlone(const VozMember* member, DWORD cbLargest, DWORD* cbExpanded) {
    *cbExpanded = 0;
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (inflateInit(&z) != Z_OK) return NULL;
    z.next_in = (Bytef*)member->compressed;
    z.avail_in = member->cbCompressed;
    HGLOBAL block = NULL;
    DWORD cbRoom = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_out == 0) {
            if (cbRoom >= cbLargest) break;
            DWORD grown = cbRoom == 0 ? (DWORD)kAloneFirstRoom : cbRoom < cbLargest / 2 ? 2 * cbRoom : cbLargest;
            if (grown > cbLargest) grown = cbLargest;
            HGLOBAL bigger = GlobalAlloc(GPTR, (SIZE_T)grown + kDigestReserve);
            if (!bigger) break;
            if (block) {
                memcpy(bigger, block, z.total_out);
                GlobalFree(block);
            }
            block = bigger;
            z.next_out = (Bytef*)block + z.total_out;
            z.avail_out = grown - (DWORD)z.total_out;
            cbRoom = grown;
        }
        status = inflate(&z, Z_NO_FLUSH);
    }
    DWORD cbOut = (DWORD)z.total_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END) {
        if (block) GlobalFree(block);
        return NULL;
    }
    *cbExpanded = cbOut;
    return block;
}

// How an archive is unpacked beyond what the payload needs.
struct ExtractOptions {
    DWORD cbLargest;      // members up to this size come back through a block of their own (0: the work area's room)
    bool userData;        // the user's own files: on the disk before they replace anything, power cut or not
    char* rewrittenList;  // gets the digest of the phrase list as written, when that was not its own bytes
    LPCSTR keepNames;     // the members checked but not written: the files of those names stay
    DWORD* cbTotal;       // when set, gets the expanded bytes of every member that checked out added
};

// Checks and writes the `length` expanded bytes of a member (room for the
// digest's reserve behind them).
static bool WriteMember(const VozMember* member, bool legacy, LPCSTR path, BYTE* data, DWORD length,
                        const ExtractOptions* options) {
    if (!legacy) {
        char* digest = (char*)data + length + kDigestGap;
        DigestHex(data, length, digest);
        if (!DigestMatches(digest, member->digest)) return false;
    }
    if (NameInList(options->keepNames, member->name)) return true;
    if (strcmp(member->name, PHRASE_LIST_NAME) == 0) {
        bool trailed = length >= kTrailerBytes && memcmp(data + length - kTrailerBytes, PHRASE_TRAILER_TAG, 4) == 0;
        length = AddPhraseListTrailer(data, length) + kTrailerBytes;
        if (!trailed && options->rewrittenList) DigestHex(data, length, options->rewrittenList);
    }
    // Whole or not at all: an earlier file stays until its new version is complete.
    if (!WriteFileWhole(path, data, length, NULL, options->userData)) return false;
    LogFileWritten(member->name, path, length);
    return true;
}

// Expands, checks and writes one member; false when it failed.  `area` is
// the work area (name, then the expanded bytes), `cbExpand` the room for
// the expanded bytes.
static bool ExtractMember(const VozMember* member, bool legacy, BYTE* area, DWORD cbExpand,
                          const ExtractOptions* options) {
    char path[MAX_PATH];
    if (!MemberPath(path, sizeof(path), member->name)) return false;
    BYTE* data = area + kNameArea;
    uLongf cbData = cbExpand;
    int status = uncompress(data, &cbData, member->compressed, member->cbCompressed);
    HGLOBAL alone = NULL;
    if (status == Z_BUF_ERROR && options->cbLargest > cbExpand) {
        DWORD cbAlone = 0;
        alone = ExpandAlone(member, options->cbLargest, &cbAlone);
        if (alone) {
            data = (BYTE*)alone;
            cbData = cbAlone;
            status = Z_OK;
        }
    }
    // An empty payload member is a damaged payload; an empty user file
    // (an emptied word list) is packed as it was and comes back so.
    bool ok = status == Z_OK && (cbData != 0 || options->userData) &&
              WriteMember(member, legacy, path, data, (DWORD)cbData, options);
    if (ok && options->cbTotal) *options->cbTotal += (DWORD)cbData;
    if (alone) GlobalFree(alone);
    return ok;
}

BYTE* ExpandVerifiedMember(LPCSTR name, DWORD* cbExpanded) {
    *cbExpanded = 0;
    MemberIterator it;
    if (!g_ctx.payload || !g_ctx.workBuffer || !VozBegin(&it, g_ctx.payload, g_ctx.payloadBytes, kMarkerExact) ||
        it.legacy)
        return NULL;
    VozMember member;
    while (VozNext(&it, &member)) {
        if (strcmp(member.name, name) != 0) continue;
        BYTE* data = g_ctx.workBuffer + kNameArea;
        uLongf cbData = kWorkBufferBytes - kNameArea - kDigestReserve;
        if (uncompress(data, &cbData, member.compressed, member.cbCompressed) != Z_OK || cbData == 0) return NULL;
        char* digest = (char*)data + cbData + kDigestGap;
        DigestHex(data, (DWORD)cbData, digest);
        if (!DigestMatches(digest, member.digest)) return NULL;
        *cbExpanded = (DWORD)cbData;
        return data;
    }
    return NULL;
}

bool MatchesMember(const BYTE* archive, DWORD cbArchive, LPCSTR name, const char digest[kDigestChars]) {
    MemberIterator it;
    if (!archive || !VozBegin(&it, archive, cbArchive, kMarkerExact) || it.legacy) return false;
    VozMember member;
    while (VozNext(&it, &member))
        if (strcmp(member.name, name) == 0) return DigestMatches(digest, member.digest);
    return false;
}

// Every member whose name cannot be written, whose bytes do not expand or do
// not match their digest, or that cannot be written gets its own message; the
// walk goes on.  A damaged record ends the walk, and the members after it
// count as failed without a message (the caller reports the whole).
static bool ExtractMembers(const BYTE* archive, DWORD cbArchive, BYTE* workArea, const ExtractOptions* options) {
    MemberIterator it;
    if (!VozBegin(&it, archive, cbArchive, kMarkerExact)) return false;
    if (it.count == 0) return true;
    // The work area lies in the work buffer; what remains of it behind the
    // name area, less the digest's reserve, is the room for one member.
    // Addresses compared as numbers: the pointers may belong to different blocks.
    if (!g_ctx.workBuffer) return false;
    uintptr_t start = (uintptr_t)g_ctx.workBuffer, end = start + kWorkBufferBytes;
    uintptr_t area = (uintptr_t)workArea, from = (uintptr_t)archive;
    if (area < start || area >= end) return false;
    size_t cbRest = (size_t)(end - area);
    if (cbRest <= (size_t)kNameArea + kDigestReserve) return false;
    // An archive read into the work buffer must lie before the work area.
    if (from < end && from + cbArchive > area) return false;
    DWORD cbExpand = (DWORD)(cbRest - kNameArea - kDigestReserve);

    DWORD passed = 0;
    VozMember member;
    while (VozNext(&it, &member)) {
        // The walker guarantees the name ends inside its field.
        snprintf((char*)workArea, kNameArea, "%s", member.name);
        if (ExtractMember(&member, it.legacy, workArea, cbExpand, options))
            passed++;
        else
            ReportMemberFailure((LPCSTR)workArea);
    }
    return passed == it.count;
}

bool NameInList(LPCSTR list, LPCSTR name) {
    size_t cbName = name ? strlen(name) : 0;
    if (!list || cbName == 0) return false;
    for (LPCSTR p = list; *p;) {
        while (*p == ' ') p++;
        size_t n = 0;
        while (p[n] && p[n] != ' ') n++;
        if (n == cbName && memcmp(p, name, n) == 0) return true;
        p += n;
    }
    return false;
}

bool ExtractArchive(const BYTE* archive, DWORD cbArchive, BYTE* workArea, LPCSTR keepNames, DWORD* cbExpanded) {
    ExtractOptions options = {0, false, NULL, keepNames, cbExpanded};
    if (cbExpanded) *cbExpanded = 0;
    return ExtractMembers(archive, cbArchive, workArea, &options);
}

// VerifyArchive; a phrase list whose file has the digest `rewrittenList`
// (what the unpack wrote in place of its own bytes) passes as well.
static int VerifyMembers(const BYTE* archive, DWORD cbArchive, char* failures, size_t cbFailures, LPCSTR exclusions,
                         const char* rewrittenList) {
    if (!failures || cbFailures == 0) return 0;
    failures[0] = 0;
    MemberIterator it;
    if (!VozBegin(&it, archive, cbArchive, kMarkerExact) || it.count == 0) return 0;
    // The closing sentence always fits: names are left out first.
    size_t cbClosing = strlen(MSG_VERIFY_INCOMPLETE);
    size_t cbNames = cbFailures > cbClosing ? cbFailures - cbClosing : 1;

    int passed = 0;
    VozMember member;
    while (VozNext(&it, &member)) {
        char path[MAX_PATH];
        char digest[kDigestChars];
        bool ok = false;
        if (MemberPath(path, sizeof(path), member.name)) {
            DWORD cbFile = FileDigest(path, digest);
            if (it.legacy)
                ok = cbFile >= member.cbCompressed;
            else
                ok = DigestMatches(digest, member.digest) ||
                     (rewrittenList && strcmp(member.name, PHRASE_LIST_NAME) == 0 &&
                      DigestMatches(digest, rewrittenList)) ||
                     (exclusions && ContainsWord(exclusions, member.name));
        }
        if (ok) {
            passed++;
            continue;
        }
        char piece[kVozNameField + sizeof(VERIFY_FAILURE_MARK)];
        snprintf(piece, sizeof(piece), "%s" VERIFY_FAILURE_MARK, member.name);
        AppendWhole(failures, cbNames, piece);
    }
    if ((DWORD)passed < it.count) AppendWhole(failures, cbFailures, MSG_VERIFY_INCOMPLETE);
    return passed;
}

int VerifyArchive(const BYTE* archive, DWORD cbArchive, char* failures, size_t cbFailures, LPCSTR exclusions) {
    return VerifyMembers(archive, cbArchive, failures, cbFailures, exclusions, NULL);
}

void ExtractArchiveFile(LPCSTR path) {
    if (g_ctx.backupState == kBackupKeep || !g_ctx.workBuffer) return;
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) return;
    UINT got = _lread(file, g_ctx.workBuffer, kArchiveFileBytes);
    _lclose(file);
    if (got == (UINT)HFILE_ERROR) return;
    ExtractArchive(g_ctx.workBuffer, got, g_ctx.workBuffer + kArchiveFileBytes);
}

// "成功恢复了%d个原有数据文件！" in UTF-16, built piece by piece.
static void FormatRestoredText(WCHAR* out, size_t cchOut, int count) {
    static const WCHAR kHead[] = MSG_RESTORED_HEAD_W;
    static const WCHAR kTail[] = MSG_RESTORED_TAIL_W;
    WCHAR digits[12];
    size_t cchDigits = 0;
    unsigned value = count < 0 ? 0u : (unsigned)count;
    do {
        digits[cchDigits++] = (WCHAR)('0' + value % 10);
        value /= 10;
    } while (value && cchDigits < sizeof(digits) / sizeof(digits[0]));
    size_t cchHead = sizeof(kHead) / sizeof(kHead[0]) - 1;
    size_t cchTail = sizeof(kTail) / sizeof(kTail[0]) - 1;
    if (cchHead + cchDigits + cchTail + 1 > cchOut) {
        if (cchOut) out[0] = 0;
        return;
    }
    size_t k = 0;
    for (size_t i = 0; i < cchHead; i++) out[k++] = kHead[i];
    while (cchDigits) out[k++] = digits[--cchDigits];
    for (size_t i = 0; i < cchTail; i++) out[k++] = kTail[i];
    out[k] = 0;
}

// Reads the backup archive this run wrote (in the previous installation
// directory) whole into a block of its own, unpacks it over the fresh
// installation and says how that went.  In another installation directory
// it also leaves a copy there; an older archive already there is never what
// is restored.  No archive, or one too short to hold a member: silence.
bool RestoreUserData(void) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    if (!g_ctx.workBuffer) return false;
    // Without a previous directory no backup was made, and the name would
    // resolve in the current directory.
    if (!g_ctx.previousDir[0]) return false;
    if (!FormatPath(source, sizeof(source), FMT_IN_DIR, g_ctx.previousDir, BACKUP_ARCHIVE_NAME) ||
        !FormatPath(target, sizeof(target), FMT_IN_DIR, g_ctx.installDir, BACKUP_ARCHIVE_NAME))
        return false;

    DWORD got = 0;
    HGLOBAL block = ReadFileShared(source, kRestoreMaxArchiveBytes, kRestoreSlack, &got);
    if (!block) {
        // One that is there but cannot be read leaves the user's data unrestored.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            ShowFailureA(MSG_RESTORE_FAILED, PAYLOAD_TITLE_VORN);
        return false;
    }
    if (got < kRestoreMinBytes) {
        GlobalFree(block);
        return false;
    }
    const BYTE* archive = (const BYTE*)block;
    if (strcmp(g_ctx.installDir, g_ctx.previousDir) != 0 && !WriteFileWhole(target, archive, got, NULL, true))
        LogEvent(LOG_RESTORE_NOT_COPIED, source, target, (unsigned long)GetLastError());

    // The backup is always written in the current format.  Any other has no
    // digests, and its length check would pass a member that was never
    // written (0 bytes >= compressed length 0).
    if (archive[0] != 'V' || archive[1] != '0') {
        ShowFailureA(MSG_RESTORE_FAILED, PAYLOAD_TITLE_VORN);
        GlobalFree(block);
        return false;
    }
    // Whatever size the backup packed a file at, it comes back.  A phrase
    // list given its trailer on the way is held to what was written (the
    // archive keeps the user's own bytes).
    char rewrittenList[kDigestChars] = {0};
    ExtractOptions options = {kVozMaxMemberBytes, true, rewrittenList, NULL, NULL};
    bool allWritten = ExtractMembers(archive, got, g_ctx.workBuffer, &options);
    char* failures = (char*)g_ctx.workBuffer;
    char* exclusions = (char*)g_ctx.workBuffer + kExclusionsOffset;
    exclusions[0] = 0;
    // Room is kept for the closing sentence.
    size_t cbFailures = kExclusionsOffset - strlen(MSG_BREAK MSG_RESTORE_FAILED);
    int restored = VerifyMembers(archive, got, failures, cbFailures, exclusions, rewrittenList);
    // A member that was not written is not restored, even when a file of the
    // same bytes happened to be there: the success message would claim it.
    bool whole = !failures[0] && allWritten;
    if (!whole) {
        AppendWhole(failures, kExclusionsOffset, failures[0] ? MSG_BREAK MSG_RESTORE_FAILED : MSG_RESTORE_FAILED);
        ShowFailureA(failures, PAYLOAD_TITLE_VORN);
    } else {
        WCHAR text[64];
        FormatRestoredText(text, sizeof(text) / sizeof(text[0]), restored);
        ShowMessageW(text, PAYLOAD_TITLE_VORN_W, MB_OK);
    }
    GlobalFree(block);
    return whole;
}
