// Placeholder operations until the payload is built.
#include "payload/payload.h"
#include "setup/context.h"

bool OpenPayload(void) { return false; }
void ClosePayload(void) {}
void DigestHex(const void*, DWORD, char out[kDigestChars]) { memset(out, 0, kDigestChars); }
DWORD FileDigest(LPCSTR, char out[kDigestChars]) { memset(out, 0, kDigestChars); return 0; }
int DeleteIfPresent(LPCSTR path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    HFILE f = _lopen(path, OF_READ);
    if (f == HFILE_ERROR) return 0;
    _lclose(f);
    return DeleteFileA(path) ? 0 : -1;
}
int RenameAside(LPCSTR) { return -1; }
bool ExtractArchive(const BYTE*, DWORD, BYTE*) { return false; }
int VerifyArchive(const BYTE*, DWORD, char* failures, size_t, LPCSTR) { failures[0] = 0; return 0; }
void ExtractArchiveFile(LPCSTR) {}
void RestoreUserData(void) {}
PVOID DisableFsRedirection(void) { return NULL; }
void RestoreFsRedirection(PVOID) {}
void PlaceProgramFiles(int) {}
void CopyIntoPlace(LPCSTR, LPCSTR) {}
void PatchVersionText(LPCSTR) {}
