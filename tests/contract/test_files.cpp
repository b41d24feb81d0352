// Files and directories: what the setup program relies on from kernel32.
#include "tests/contract/contract.h"

using contract::MakeFile;

static DWORD Attributes(const char* name) { return GetFileAttributesA(contract::Path(name)); }

static HANDLE OpenAsDirectory(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

CONTRACT_TEST(test_CreateFileA_directories) {
    HANDLE h = OpenAsDirectory(contract::g_dir);
    ok(h != INVALID_HANDLE_VALUE, "backup semantics open a directory, error %lu", (unsigned long)GetLastError());
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);

    SetLastError(0xdeadbeef);
    h = CreateFileA(contract::g_dir, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ok(h == INVALID_HANDLE_VALUE, "a directory without backup semantics opens");
    ok(GetLastError() == ERROR_ACCESS_DENIED, "error %lu", (unsigned long)GetLastError());

    ok(MakeFile("plain.txt", "abc", 3), "creating plain.txt");
    h = OpenAsDirectory(contract::Path("plain.txt"));
    ok(h != INVALID_HANDLE_VALUE, "backup semantics open a file as well");
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);

    SetLastError(0xdeadbeef);
    h = OpenAsDirectory(contract::Path("missing"));
    ok(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND, "missing: error %lu",
       (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    h = OpenAsDirectory(contract::Path("missing\\deeper"));
    ok(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND, "missing parent: error %lu",
       (unsigned long)GetLastError());
}

CONTRACT_TEST(test_lopen_lcreat) {
    SetLastError(0xdeadbeef);
    HFILE f = _lopen(contract::Path("missing.txt"), OF_READ);
    ok(f == HFILE_ERROR && GetLastError() == ERROR_FILE_NOT_FOUND, "_lopen missing: %d, error %lu", f,
       (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    f = _lcreat(contract::Path("nodir\\new.txt"), 0);
    ok(f == HFILE_ERROR && GetLastError() == ERROR_PATH_NOT_FOUND, "_lcreat in a missing directory: error %lu",
       (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    f = _lopen(contract::Path("nodir\\new.txt"), OF_READ);
    ok(f == HFILE_ERROR && GetLastError() == ERROR_PATH_NOT_FOUND, "_lopen in a missing directory: error %lu",
       (unsigned long)GetLastError());

    f = _lcreat(contract::Path("new.txt"), 0);
    ok(f != HFILE_ERROR, "_lcreat new file");
    ok(_lwrite(f, "hello world", 11) == 11, "_lwrite");
    ok(_lclose(f) == 0, "_lclose");
    ok(Attributes("new.txt") == FILE_ATTRIBUTE_ARCHIVE, "attributes of a new file %#lx",
       (unsigned long)Attributes("new.txt"));

    // _lcreat truncates an existing file.
    f = _lcreat(contract::Path("new.txt"), 0);
    ok(f != HFILE_ERROR, "_lcreat existing file");
    _lwrite(f, "abc", 3);
    _lclose(f);

    char buffer[32];
    memset(buffer, 0xbd, sizeof(buffer));
    f = _lopen(contract::Path("new.txt"), OF_READ);
    ok(f != HFILE_ERROR, "_lopen existing");
    ok(_llseek(f, 0, FILE_END) == 3, "_llseek to the end gives the length");
    ok(_llseek(f, 0, FILE_BEGIN) == 0, "_llseek back");
    UINT n = _lread(f, buffer, 20);
    ok(n == 3 && !memcmp(buffer, "abc", 3), "_lread returned %u", n);
    ok((unsigned char)buffer[3] == 0xbd, "_lread wrote past the data");
    ok(_lread(f, buffer, 20) == 0, "_lread at the end returns 0");
    _lclose(f);

    // A read-only file cannot be truncated by _lcreat.
    ok(SetFileAttributesA(contract::Path("new.txt"), FILE_ATTRIBUTE_READONLY), "set read-only");
    SetLastError(0xdeadbeef);
    f = _lcreat(contract::Path("new.txt"), 0);
    ok(f == HFILE_ERROR && GetLastError() == ERROR_ACCESS_DENIED, "_lcreat read-only: error %lu",
       (unsigned long)GetLastError());
    if (f != HFILE_ERROR) _lclose(f);
    f = _lopen(contract::Path("new.txt"), OF_READ);
    ok(f != HFILE_ERROR, "a read-only file opens for reading");
    if (f != HFILE_ERROR) _lclose(f);

    // A directory is not a file.
    SetLastError(0xdeadbeef);
    f = _lopen(contract::g_dir, OF_READ);
    ok(f == HFILE_ERROR && GetLastError() == ERROR_ACCESS_DENIED, "_lopen on a directory: error %lu",
       (unsigned long)GetLastError());
}

CONTRACT_TEST(test_attributes) {
    ok(MakeFile("a.txt", "1", 1), "create");
    ok(SetFileAttributesA(contract::Path("a.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), "set");
    // Wine run by an unprivileged user keeps no hidden bit.
    ok(Attributes("a.txt") == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN) ||
           broken(Attributes("a.txt") == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE)),
       "read back %#lx",
       (unsigned long)Attributes("a.txt"));
    ok(SetFileAttributesA(contract::Path("a.txt"), FILE_ATTRIBUTE_ARCHIVE), "archive");
    ok(Attributes("a.txt") == FILE_ATTRIBUTE_ARCHIVE, "archive read back %#lx", (unsigned long)Attributes("a.txt"));
    ok(SetFileAttributesA(contract::Path("a.txt"), FILE_ATTRIBUTE_NORMAL), "normal");
    // Wine reports the archive bit on every file.
    ok(Attributes("a.txt") == FILE_ATTRIBUTE_NORMAL || broken(Attributes("a.txt") == FILE_ATTRIBUTE_ARCHIVE),
       "normal read back %#lx", (unsigned long)Attributes("a.txt"));

    SetLastError(0xdeadbeef);
    ok(!SetFileAttributesA(contract::Path("none.txt"), FILE_ATTRIBUTE_ARCHIVE), "missing file");
    ok(GetLastError() == ERROR_FILE_NOT_FOUND, "error %lu", (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    ok(Attributes("none.txt") == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND,
       "GetFileAttributesA missing: error %lu", (unsigned long)GetLastError());

    ok(CreateDirectoryA(contract::Path("sub"), NULL), "CreateDirectoryA");
    ok(Attributes("sub") == FILE_ATTRIBUTE_DIRECTORY, "a new directory is exactly 0x10: %#lx",
       (unsigned long)Attributes("sub"));
    SetLastError(0xdeadbeef);
    ok(!CreateDirectoryA(contract::Path("sub"), NULL) && GetLastError() == ERROR_ALREADY_EXISTS,
       "CreateDirectoryA twice: error %lu", (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    ok(!CreateDirectoryA(contract::Path("x\\y"), NULL) && GetLastError() == ERROR_PATH_NOT_FOUND,
       "CreateDirectoryA one level only: error %lu", (unsigned long)GetLastError());
    ok(CreateDirectoryA(contract::Path("trail\\"), NULL), "CreateDirectoryA with a trailing backslash");
    ok(Attributes("trail") == FILE_ATTRIBUTE_DIRECTORY, "trail exists");
}

CONTRACT_TEST(test_CopyFileA) {
    ok(MakeFile("src.bin", "0123456789", 10), "create src");
    ok(CopyFileA(contract::Path("src.bin"), contract::Path("dst.bin"), FALSE), "copy");
    HFILE f = _lopen(contract::Path("dst.bin"), OF_READ);
    char buffer[16] = {0};
    ok(f != HFILE_ERROR && _lread(f, buffer, 16) == 10 && !memcmp(buffer, "0123456789", 10), "copied bytes");
    if (f != HFILE_ERROR) _lclose(f);

    SetLastError(0xdeadbeef);
    ok(!CopyFileA(contract::Path("src.bin"), contract::Path("dst.bin"), TRUE), "fail if exists");
    ok(GetLastError() == ERROR_FILE_EXISTS, "error %lu", (unsigned long)GetLastError());
    ok(CopyFileA(contract::Path("src.bin"), contract::Path("dst.bin"), FALSE), "overwrite");

    SetLastError(0xdeadbeef);
    ok(!CopyFileA(contract::Path("nosrc.bin"), contract::Path("dst2.bin"), FALSE), "missing source");
    ok(GetLastError() == ERROR_FILE_NOT_FOUND, "error %lu", (unsigned long)GetLastError());

    SetLastError(0xdeadbeef);
    ok(!CopyFileA(contract::Path("src.bin"), contract::Path("nodir\\dst.bin"), FALSE), "missing target dir");
    ok(GetLastError() == ERROR_PATH_NOT_FOUND, "error %lu", (unsigned long)GetLastError());

    // A read-only target refuses the overwrite; resetting the attribute first allows it.
    SetFileAttributesA(contract::Path("dst.bin"), FILE_ATTRIBUTE_READONLY);
    SetLastError(0xdeadbeef);
    ok(!CopyFileA(contract::Path("src.bin"), contract::Path("dst.bin"), FALSE), "read-only target");
    ok(GetLastError() == ERROR_ACCESS_DENIED, "error %lu", (unsigned long)GetLastError());
    SetFileAttributesA(contract::Path("dst.bin"), FILE_ATTRIBUTE_ARCHIVE);
    ok(CopyFileA(contract::Path("src.bin"), contract::Path("dst.bin"), FALSE), "after reset");

    // The copy takes the source's attributes.
    SetFileAttributesA(contract::Path("src.bin"), FILE_ATTRIBUTE_READONLY);
    ok(CopyFileA(contract::Path("src.bin"), contract::Path("ro.bin"), FALSE), "copy of read-only");
    DWORD a = Attributes("ro.bin");
    ok(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY), "copy keeps read-only: %#lx", (unsigned long)a);
}

CONTRACT_TEST(test_MoveFileA_DeleteFileA) {
    ok(MakeFile("m1.txt", "one", 3), "create m1");
    ok(MakeFile("m2.txt", "two", 3), "create m2");
    SetLastError(0xdeadbeef);
    ok(!MoveFileA(contract::Path("m1.txt"), contract::Path("m2.txt")), "move onto an existing file");
    ok(GetLastError() == ERROR_ALREADY_EXISTS, "error %lu", (unsigned long)GetLastError());
    ok(MoveFileA(contract::Path("m1.txt"), contract::Path("m3.txt")), "rename");
    ok(Attributes("m1.txt") == INVALID_FILE_ATTRIBUTES, "old name gone");
    ok(Attributes("m3.txt") != INVALID_FILE_ATTRIBUTES, "new name there");
    SetLastError(0xdeadbeef);
    ok(!MoveFileA(contract::Path("m1.txt"), contract::Path("m4.txt")), "move a missing file");
    ok(GetLastError() == ERROR_FILE_NOT_FOUND, "error %lu", (unsigned long)GetLastError());

    // A read-only file can be renamed but not deleted.
    SetFileAttributesA(contract::Path("m3.txt"), FILE_ATTRIBUTE_READONLY);
    SetLastError(0xdeadbeef);
    ok(!DeleteFileA(contract::Path("m3.txt")), "delete read-only");
    ok(GetLastError() == ERROR_ACCESS_DENIED, "error %lu", (unsigned long)GetLastError());
    ok(MoveFileA(contract::Path("m3.txt"), contract::Path("m5.txt")), "rename read-only");
    SetFileAttributesA(contract::Path("m5.txt"), FILE_ATTRIBUTE_ARCHIVE);
    ok(DeleteFileA(contract::Path("m5.txt")), "delete after reset");

    SetLastError(0xdeadbeef);
    ok(!DeleteFileA(contract::Path("m5.txt")), "delete missing");
    ok(GetLastError() == ERROR_FILE_NOT_FOUND, "error %lu", (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    ok(!DeleteFileA(contract::Path("nodir\\m5.txt")), "delete in a missing directory");
    ok(GetLastError() == ERROR_PATH_NOT_FOUND, "error %lu", (unsigned long)GetLastError());

    // A file held open without delete sharing can be neither deleted nor renamed.
    ok(MakeFile("held.txt", "h", 1), "create held");
    HANDLE h = CreateFileA(contract::Path("held.txt"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ok(h != INVALID_HANDLE_VALUE, "open held");
    if (contract::g_onWine) {
        SetLastError(0xdeadbeef);
        ok(!DeleteFileA(contract::Path("held.txt")), "delete held");
        ok(GetLastError() == ERROR_SHARING_VIOLATION, "error %lu", (unsigned long)GetLastError());
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    ok(DeleteFileA(contract::Path("held.txt")), "delete after close");
}

// Hard links, which a user can plant in a directory he may change: one file
// under two names, told apart by its link count; a move over one name and a
// delete act on that name only.  What the product's "plain file" check reads.
static DWORD LinkCount(const char* name, DWORD* attributes) {
    HANDLE h = CreateFileA(contract::Path(name), FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    BY_HANDLE_FILE_INFORMATION info;
    memset(&info, 0xbd, sizeof(info));
    bool got = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (attributes) *attributes = got ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
    return got ? info.nNumberOfLinks : 0;
}

CONTRACT_TEST(test_hard_links) {
    ok(MakeFile("l1.txt", "one", 3), "create l1");
    ok(LinkCount("l1.txt", NULL) == 1, "one name: %lu", (unsigned long)LinkCount("l1.txt", NULL));
    SetLastError(0xdeadbeef);
    ok(CreateHardLinkA(contract::Path("l2.txt"), contract::Path("l1.txt"), NULL), "CreateHardLinkA, error %lu",
       (unsigned long)GetLastError());
    DWORD attributes = 0;
    ok(LinkCount("l2.txt", &attributes) == 2, "two names: %lu", (unsigned long)LinkCount("l2.txt", NULL));
    ok(!(attributes & FILE_ATTRIBUTE_REPARSE_POINT), "a hard link is no reparse point: %#lx", (unsigned long)attributes);

    HFILE f = _lopen(contract::Path("l2.txt"), OF_WRITE);
    ok(f != HFILE_ERROR && _lwrite(f, "xyz", 3) == 3, "write through the second name");
    if (f != HFILE_ERROR) _lclose(f);
    char got[8] = {0};
    f = _lopen(contract::Path("l1.txt"), OF_READ);
    ok(f != HFILE_ERROR && _lread(f, got, sizeof(got)) == 3 && !memcmp(got, "xyz", 3), "seen through the first: %s", got);
    if (f != HFILE_ERROR) _lclose(f);

    ok(MakeFile("l3.txt", "new", 3), "create l3");
    ok(MoveFileExA(contract::Path("l3.txt"), contract::Path("l2.txt"), MOVEFILE_REPLACE_EXISTING), "move over a name");
    ok(LinkCount("l1.txt", NULL) == 1, "the other name keeps the file alone: %lu", (unsigned long)LinkCount("l1.txt", NULL));
    memset(got, 0, sizeof(got));
    f = _lopen(contract::Path("l1.txt"), OF_READ);
    ok(f != HFILE_ERROR && _lread(f, got, sizeof(got)) == 3 && !memcmp(got, "xyz", 3), "and its bytes: %s", got);
    if (f != HFILE_ERROR) _lclose(f);
    ok(CreateHardLinkA(contract::Path("l4.txt"), contract::Path("l1.txt"), NULL), "a second name again");
    ok(DeleteFileA(contract::Path("l4.txt")), "delete one name");
    ok(Attributes("l1.txt") != INVALID_FILE_ATTRIBUTES && LinkCount("l1.txt", NULL) == 1, "the other stays");
}

CONTRACT_TEST(test_FindFirstFileA) {
    ok(MakeFile("f1.txt", "1", 1) && MakeFile("f2.voh", "2", 1), "create");
    ok(CreateDirectoryA(contract::Path("dir"), NULL), "mkdir");
    char pattern[MAX_PATH];
    ok(snprintf(pattern, sizeof(pattern), "%s\\*.*", contract::g_dir) < (int)sizeof(pattern), "pattern");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    ok(find != INVALID_HANDLE_VALUE, "FindFirstFileA");
    int dots = 0, files = 0, dirs = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(data.cFileName, ".") || !strcmp(data.cFileName, ".."))
                dots++;
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                dirs++;
            else
                files++;
        } while (FindNextFileA(find, &data));
        ok(GetLastError() == ERROR_NO_MORE_FILES, "end: error %lu", (unsigned long)GetLastError());
        FindClose(find);
    }
    ok(dots == 2 && files == 2 && dirs == 1, "dots %d files %d dirs %d", dots, files, dirs);

    ok(snprintf(pattern, sizeof(pattern), "%s\\nodir\\*.*", contract::g_dir) < (int)sizeof(pattern), "pattern");
    SetLastError(0xdeadbeef);
    find = FindFirstFileA(pattern, &data);
    ok(find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND, "missing directory: error %lu",
       (unsigned long)GetLastError());

    ok(SetCurrentDirectoryA(contract::Path("dir")), "enter a directory");
    SetLastError(0xdeadbeef);
    ok(!SetCurrentDirectoryA(contract::Path("f1.txt")), "a file cannot be entered");
    ok(GetLastError() == ERROR_DIRECTORY, "error %lu", (unsigned long)GetLastError());
    SetCurrentDirectoryA("C:\\");
}

CONTRACT_TEST(test_directories_and_version) {
    char buffer[MAX_PATH];
    memset(buffer, 0xbd, sizeof(buffer));
    UINT n = GetWindowsDirectoryA(buffer, sizeof(buffer));
    ok(n > 3 && n == strlen(buffer) && buffer[n - 1] != '\\', "GetWindowsDirectoryA %u \"%s\"", n, buffer);
    n = GetSystemDirectoryA(buffer, sizeof(buffer));
    ok(n > 3 && n == strlen(buffer) && buffer[n - 1] != '\\', "GetSystemDirectoryA %u \"%s\"", n, buffer);
    char small[4];
    memset(small, 0xbd, sizeof(small));
    n = GetSystemDirectoryA(small, sizeof(small));
    ok(n > sizeof(small), "a short buffer gets the size needed: %u", n);

    // The extended size makes Windows write 156 bytes: the buffer has them.
    union {
        OSVERSIONINFOA info;
        unsigned char extended[156];
    } version;
    memset(&version, 0, sizeof(version));
    OSVERSIONINFOA& info = version.info;
    info.dwOSVersionInfoSize = sizeof(version.extended);
    ok(GetVersionExA(&info), "GetVersionExA with the extended size");
    ok(info.dwMajorVersion >= 5, "major %lu", (unsigned long)info.dwMajorVersion);
    ok((GetVersion() & 0xFF) == info.dwMajorVersion, "GetVersion's low byte is the major version");
    ok((GetVersion() & 0x80000000u) == 0, "NT family");
    ok(GetDriveTypeA("c:\\") == DRIVE_FIXED, "c: is fixed");
}
