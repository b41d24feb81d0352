// The one archive writer: appends a file, or a member of another archive,
// to a VOZ archive on disk (the user-data backup "vornback.voz").
//
// An existing archive is untrusted input: it is walked record by record
// within the file's length, never by its counts alone, and one that does not
// hold together is left alone.  Every failure leaves the archive file as it
// was: nothing is written until the member is ready, and an append that fails
// half-way is taken back (old end of file and header restored).  A new
// archive is only created once the member is ready, and deleted again if
// writing it fails.
#include "payload/payload.h"
#include "payload/voz.h"

#include <zlib.h>

namespace {

// One archive file opened for the append, and what its walk found.
struct ArchiveFile {
    HANDLE pin;          // holds the archive's name while it is written (a plain file, no link)
    HFILE file;
    bool fresh;          // did not exist: created only when the member is written
    DWORD cbFile;        // length of the existing file
    DWORD endOfMembers;  // offset just past the last member
    BYTE header[kVozHeaderBytes];
};

// The new member: the source's bytes and digest, and the compressed bytes,
// each in a block of its own.
struct NewMember {
    HGLOBAL block;
    BYTE* bytes;
    DWORD cbSource;      // L: room for the source
    DWORD cbRead;        // N
    HGLOBAL packed;
    BYTE* compressed;
    DWORD cbCompressed;  // C
    char digest[kDigestChars];
};

// The bare file name of a path: the text after its last "\" (also "/" and
// ":", which Windows treats alike).  GBK trail bytes may equal "\", so lead
// bytes are skipped with their partner.
LPCSTR BareName(LPCSTR path) {
    LPCSTR name = path;
    for (LPCSTR p = path; *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (c >= 0x81 && c <= 0xFE && p[1]) {
            p++;
            continue;
        }
        if (c == '\\' || c == '/' || c == ':') name = p + 1;
    }
    return name;
}

// Reads exactly `cb` bytes at `offset`; false on a short read or an error.
bool ReadAt(HFILE file, DWORD offset, BYTE* out, UINT cb) {
    if (_llseek(file, (LONG)offset, FILE_BEGIN) != (LONG)offset) return false;
    return _lread(file, out, cb) == cb;
}

// Writes exactly `cb` bytes at `offset`.
bool WriteAt(HFILE file, DWORD offset, const BYTE* bytes, UINT cb) {
    if (_llseek(file, (LONG)offset, FILE_BEGIN) != (LONG)offset) return false;
    return _lwrite(file, (LPCSTR)bytes, cb) == cb;
}

// Walks the existing archive: true when it is a current-format archive whose
// members lie within the file and whose header length agrees with them.
// Sets *duplicate when a member already carries `name`.
bool WalkArchive(ArchiveFile* a, LPCSTR name, bool* duplicate) {
    *duplicate = false;
    LONG end = _llseek(a->file, 0, FILE_END);
    if (end < (LONG)kVozHeaderBytes) return false;
    a->cbFile = (DWORD)end;
    if (!ReadAt(a->file, 0, a->header, kVozHeaderBytes)) return false;
    if (a->header[0] != 'V' || a->header[1] != '0') return false;  // legacy records cannot be mixed in

    DWORD count = VozLe32(a->header + 6);
    DWORD offset = kVozHeaderBytes;
    // Each member takes at least one record, so the file's length bounds the
    // loop whatever the count says.
    for (DWORD i = 0; i < count; i++) {
        BYTE record[kVozRecordBytes];
        if (a->cbFile - offset < kVozRecordBytes) return false;
        if (!ReadAt(a->file, offset, record, kVozRecordBytes)) return false;
        if (record[0] != 'V' || record[1] != 'F') return false;
        if (!memchr(record + 2, 0, kVozNameField)) return false;
        DWORD cbCompressed = VozLe32(record + 52);
        if (cbCompressed > a->cbFile - offset - kVozRecordBytes) return false;
        if (strcmp((const char*)record + 2, name) == 0) {
            *duplicate = true;
            return true;
        }
        offset += kVozRecordBytes + cbCompressed;
    }
    a->endOfMembers = offset;
    return VozLe32(a->header + 2) == offset;
}

// Opens the archive for the append.  A missing archive is fine (fresh); an
// archive that exists but cannot be opened, is damaged or already holds the
// name is not.
bool OpenArchive(LPCSTR archivePath, LPCSTR name, ArchiveFile* a) {
    memset(a, 0, sizeof(*a));
    a->file = HFILE_ERROR;
    // The archive lies in a directory the user may change: it is written only
    // as a plain file held by its name, never through a link put there.
    a->pin = PinPlainFile(archivePath);
    if (a->pin == INVALID_HANDLE_VALUE) {
        // Only a file that is not there may be created: any other failure
        // (locked, refused, a link) must not end in writing over it.
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
        a->fresh = true;
        a->endOfMembers = kVozHeaderBytes;
        VozWriteHeader(a->header, false, kVozHeaderBytes, 0);
        return true;
    }
    a->file = _lopen(archivePath, OF_READWRITE | OF_SHARE_DENY_WRITE);
    if (a->file == HFILE_ERROR) {
        CloseHandle(a->pin);
        return false;
    }
    bool duplicate = false;
    if (!WalkArchive(a, name, &duplicate) || duplicate) {
        _lclose(a->file);
        CloseHandle(a->pin);
        a->file = HFILE_ERROR;
        return false;
    }
    return true;
}

void ReleaseMember(NewMember* m) {
    if (m->block) GlobalFree(m->block);
    if (m->packed) GlobalFree(m->packed);
    m->block = NULL;
    m->packed = NULL;
}

// Reads the source, takes its digest and compresses it into a block of its
// own, offered what zlib says deflate may need (compressBound), so files of
// any size up to kVozMaxMemberBytes go in, however well they compress.  The
// memory needed is the file's size and its compressed size; false for an
// unreadable source, a missing digest, memory that cannot be had or a
// failed compression.
bool PrepareMember(LPCSTR sourcePath, NewMember* m) {
    memset(m, 0, sizeof(*m));
    // A running input method may hold its own files open for writing.
    HANDLE source = OpenSharedRead(sourcePath);
    if (source == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    DWORD cbSource = GetFileSize(source, &high);
    if (cbSource == INVALID_FILE_SIZE || high != 0 || cbSource > (DWORD)kVozMaxMemberBytes) {
        CloseHandle(source);
        return false;
    }
    m->cbSource = cbSource;
    // One byte at least: an empty file is packed too.
    m->block = GlobalAlloc(GPTR, (SIZE_T)m->cbSource + 1);
    m->bytes = (BYTE*)m->block;
    // It may shrink while the holder writes: what is there is packed.
    DWORD cbRead = 0;
    bool read = m->bytes != NULL && ReadUpTo(source, m->bytes, m->cbSource, &cbRead);
    CloseHandle(source);
    if (!read) return false;
    m->cbRead = cbRead;

    // Without advapi32's MD5 the digest is empty; a member with an empty
    // digest could never be restored, so it is not added at all.
    DigestHex(m->bytes, m->cbRead, m->digest);
    if (!m->digest[0]) return false;

    uLongf cbRoom = compressBound(m->cbRead);
    m->packed = GlobalAlloc(GMEM_FIXED, (SIZE_T)cbRoom);
    m->compressed = (BYTE*)m->packed;
    if (!m->compressed) return false;
    if (compress(m->compressed, &cbRoom, m->bytes, m->cbRead) != Z_OK || cbRoom == 0) return false;
    m->cbCompressed = (DWORD)cbRoom;
    return true;
}

bool WriteAll(HANDLE file, const void* bytes, DWORD cb) {
    DWORD written = 0;
    return WriteFile(file, bytes, cb, &written, NULL) && written == cb;
}

// Creates a new archive holding just the member; a partial file is deleted.
// A name that appeared meanwhile (a link put there) is not written through.
bool WriteFreshArchive(LPCSTR archivePath, const BYTE header[kVozHeaderBytes], const BYTE* record,
                       const BYTE* compressed, DWORD cbCompressed) {
    HANDLE file = CreateFileA(archivePath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = WriteAll(file, header, kVozHeaderBytes) && WriteAll(file, record, kVozRecordBytes) &&
                   WriteAll(file, compressed, cbCompressed);
    CloseHandle(file);
    if (!written) DeleteFileA(archivePath);
    return written;
}

// Appends the member at the end of the last member, then rewrites the
// header.  On a failed write the bytes the append covered, the old end of
// the file and the old header are put back.
bool AppendToArchive(ArchiveFile* a, const BYTE header[kVozHeaderBytes], const BYTE* record, const BYTE* compressed,
                     DWORD cbCompressed) {
    DWORD at = a->endOfMembers;
    DWORD cbAppend = kVozRecordBytes + cbCompressed;
    // Bytes after the last member (the archive's own total says there are
    // none, but a file may carry some) are overwritten; keep a copy.
    DWORD cbCovered = a->cbFile - at < cbAppend ? a->cbFile - at : cbAppend;
    HGLOBAL saved = NULL;
    if (cbCovered) {
        saved = GlobalAlloc(GPTR, cbCovered);
        if (!saved || !ReadAt(a->file, at, (BYTE*)saved, cbCovered)) {
            if (saved) GlobalFree(saved);
            return false;
        }
    }
    bool written = WriteAt(a->file, at, record, kVozRecordBytes) &&
                   _lwrite(a->file, (LPCSTR)compressed, cbCompressed) == cbCompressed &&
                   WriteAt(a->file, 0, header, kVozHeaderBytes);
    if (!written) {
        if (cbCovered) WriteAt(a->file, at, (const BYTE*)saved, cbCovered);
        if (_llseek(a->file, (LONG)a->cbFile, FILE_BEGIN) == (LONG)a->cbFile) _lwrite(a->file, "", 0);
        WriteAt(a->file, 0, a->header, kVozHeaderBytes);
    }
    if (saved) GlobalFree(saved);
    return written;
}

// Appends the member `name` (digest and compressed bytes ready) to the
// archive opened as `archive`, or creates it; false leaves it as it was.
bool AppendMember(LPCSTR archivePath, ArchiveFile* archive, LPCSTR name, const char* digest, const BYTE* compressed,
                  DWORD cbCompressed) {
    DWORD cbTotal = archive->endOfMembers + kVozRecordBytes + cbCompressed;
    DWORD count = VozLe32(archive->header + 6);
    if (cbTotal <= archive->endOfMembers || count == 0xFFFFFFFFu) return false;
    BYTE header[kVozHeaderBytes];
    BYTE record[kVozRecordBytes];
    VozWriteHeader(header, false, cbTotal, count + 1);
    VozWriteRecord(record, name, digest, cbCompressed);
    return archive->fresh ? WriteFreshArchive(archivePath, header, record, compressed, cbCompressed)
                          : AppendToArchive(archive, header, record, compressed, cbCompressed);
}

// A digest field as the backup writes it: 32 upper-case hexadecimal characters.
bool IsDigestField(const char* digest) {
    for (int i = 0; i < 32; i++)
        if (!((digest[i] >= '0' && digest[i] <= '9') || (digest[i] >= 'A' && digest[i] <= 'F'))) return false;
    return true;
}

void CloseArchive(ArchiveFile* a) {
    if (a->fresh) return;
    _lclose(a->file);
    CloseHandle(a->pin);
}

}  // namespace

bool AddFileToArchive(LPCSTR archivePath, LPCSTR sourcePath) {
    if (!archivePath || !sourcePath || !sourcePath[0]) return false;
    LPCSTR name = BareName(sourcePath);
    if (!VozIsBareName(name)) return false;  // empty, over 12 bytes, or not a file name

    ArchiveFile archive;
    if (!OpenArchive(archivePath, name, &archive)) return false;

    NewMember member;
    bool added = PrepareMember(sourcePath, &member) &&
                 AppendMember(archivePath, &archive, name, member.digest, member.compressed, member.cbCompressed);
    ReleaseMember(&member);
    CloseArchive(&archive);
    return added;
}

bool AddMemberFromArchive(LPCSTR archivePath, const BYTE* from, DWORD cbFrom, LPCSTR name) {
    MemberIterator it;
    if (!archivePath || !name || !VozIsBareName(name) || !VozBegin(&it, from, cbFrom, kMarkerExact) || it.legacy)
        return false;
    VozMember member;
    bool found = false;
    while (!found && VozNext(&it, &member)) found = strcmp(member.name, name) == 0;
    // Its bytes go over unchanged, so its record must be one the restore can check.
    if (!found || !IsDigestField(member.digest)) return false;

    ArchiveFile archive;
    if (!OpenArchive(archivePath, name, &archive)) return false;
    bool added = AppendMember(archivePath, &archive, name, member.digest, member.compressed, member.cbCompressed);
    CloseArchive(&archive);
    return added;
}
