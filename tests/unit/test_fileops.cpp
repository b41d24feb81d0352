// The file primitives: digest strings, delete-if-present, rename-aside and
// WOW64 redirection.
#include "archive_builder.h"
#include "payload/payload.h"
#include "setup/log.h"
#include "sim_fixture.h"

class FileOpsTest : public SimTest {};

static std::string Digest(const std::string& data) {
    char out[kDigestChars];
    memset(out, 0x5A, sizeof(out));
    DigestHex(data.data(), (DWORD)data.size(), out);
    EXPECT_EQ(out[32], 0);
    EXPECT_EQ(out[33], 0);
    return std::string(out, strnlen(out, sizeof(out)));
}

TEST_F(FileOpsTest, DigestIsUpperCaseHexWithTwoZeroBytes) {
    EXPECT_EQ(Digest(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(Digest("abc"), "900150983CD24FB0D6963F7D28E17F72");
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i * 31);
    EXPECT_EQ(Digest(big), testvoz::Md5Hex(big));
}

TEST_F(FileOpsTest, DigestWithoutAdvapiFunctionsIsAllZero) {
    m.md5Available = false;
    char out[kDigestChars];
    memset(out, 0x5A, sizeof(out));
    DigestHex("abc", 3, out);
    for (int i = 0; i < kDigestChars; i++) {
        EXPECT_EQ(out[i], 0) << i;
    }

    m.md5Available = true;
    m.callCount = 0;
    m.failAt = 1;  // LoadLibraryA
    DigestHex("abc", 3, out);
    EXPECT_EQ(m.failedCall, "LoadLibraryA");
    EXPECT_EQ(out[0], 0);
}

TEST_F(FileOpsTest, FileDigestReadsTheWholeFile) {
    std::string data(70000, 'q');
    m.AddFile("C:\\d\\f.bin", data);
    char out[kDigestChars];
    EXPECT_EQ(FileDigest("C:\\d\\f.bin", out), 70000u);
    EXPECT_EQ(std::string(out), testvoz::Md5Hex(data));
    EXPECT_EQ(m.liveAllocations, 0u);

    // Missing, or present but unreadable: the empty digest and 0 bytes.
    memset(out, 0x5A, sizeof(out));
    EXPECT_EQ(FileDigest("C:\\d\\missing.bin", out), 0u);
    EXPECT_EQ(out[0], 0);
    m.Entry("C:\\d\\f.bin")->unreadable = true;
    memset(out, 0x5A, sizeof(out));
    EXPECT_EQ(FileDigest("C:\\d\\f.bin", out), 0u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(FileOpsTest, DeleteIfPresent) {
    EXPECT_EQ(DeleteIfPresent("C:\\d\\absent.txt"), 0);
    m.AddFile("C:\\d\\ro.txt", "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(DeleteIfPresent("C:\\d\\ro.txt"), 0);
    EXPECT_FALSE(m.Exists("C:\\d\\ro.txt"));
    m.AddFile("C:\\d\\vornhu4.ime", "loaded");
    m.Entry("C:\\d\\vornhu4.ime")->loaded = true;
    EXPECT_EQ(DeleteIfPresent("C:\\d\\vornhu4.ime"), -1);
    EXPECT_TRUE(m.Exists("C:\\d\\vornhu4.ime"));
    // Held open without sharing: it cannot even be opened, but it is there.
    m.AddFile("C:\\d\\locked.ime", "locked");
    m.Entry("C:\\d\\locked.ime")->locked = true;
    EXPECT_EQ(DeleteIfPresent("C:\\d\\locked.ime"), -1);
    EXPECT_TRUE(m.Exists("C:\\d\\locked.ime"));
    // A directory of that name is no file to delete.
    m.AddDir("C:\\d\\sub.ime");
    EXPECT_EQ(DeleteIfPresent("C:\\d\\sub.ime"), 0);
    EXPECT_TRUE(m.IsDir("C:\\d\\sub.ime"));
}

TEST_F(FileOpsTest, RenameAsideChain) {
    const char* path = "C:\\windows\\syswow64\\vornhu4.ime";
    m.AddFile(path, "first");
    m.Entry(path)->loaded = true;
    // A stale spare from an earlier install is replaced.
    m.AddFile("C:\\windows\\syswow64\\vornhu2.ime", "stale");
    EXPECT_EQ(RenameAside(path), 0);
    EXPECT_FALSE(m.Exists(path));
    EXPECT_EQ(m.Read("C:\\windows\\syswow64\\vornhu2.ime"), "first");

    // vornhu2.ime is itself loaded now: the next one goes to vornh12.ime.
    m.AddFile(path, "second");
    m.Entry(path)->loaded = true;
    m.Entry("C:\\windows\\syswow64\\vornhu2.ime")->loaded = true;
    EXPECT_EQ(RenameAside(path), 0);
    EXPECT_EQ(m.Read("C:\\windows\\syswow64\\vornh12.ime"), "second");
    EXPECT_EQ(m.Read("C:\\windows\\syswow64\\vornhu2.ime"), "first");

    // Both spares held: the file stays.
    m.AddFile(path, "third");
    m.Entry("C:\\windows\\syswow64\\vornh12.ime")->loaded = true;
    EXPECT_EQ(RenameAside(path), -1);
    EXPECT_EQ(m.Read(path), "third");
}

// A held file moves to a name of its own, never to a file the install owns
// (the spare of "vopykey3.txt" used to be "vopykey2.txt", a sibling member,
// deleted for it).  Whatever stays aside because Windows holds it is logged,
// asks for the restart and is deleted at it; the next install puts back what
// waits for a missing file and discards what its file has replaced.
TEST_F(FileOpsTest, HeldFilesMoveToSparesOfTheirOwn) {
    std::vector<testvoz::Member> members = testvoz::SampleMembers();
    members.push_back({"vopykey2.txt", "2", ""});
    members.push_back({"vopykey3.txt", "3", ""});
    std::string payload = testvoz::Build(members);
    g_ctx.payload = (const BYTE*)payload.data();
    g_ctx.payloadBytes = (DWORD)payload.size();
    static const char* const kOwned[] = {"vonetsj.dat", "userck.txt", NULL};
    SetOwnedFileNames(kOwned);
    const std::string dir = "C:\\p\\";
    for (const testvoz::Member& mb : members) m.AddFile(dir + mb.name, "earlier " + mb.name);
    m.AddFile(dir + "vonetsj.dat", "settings");
    m.AddFile(dir + "userck.txt", "words");
    // Each file in turn held by a running program and replaced.
    for (const testvoz::Member& held : members) {
        if (!VozIsMemberName(held.name.c_str())) continue;
        m.Entry(dir + held.name)->loaded = true;
        ASSERT_TRUE(WriteFileWhole((dir + held.name).c_str(), "new", 3)) << held.name;
        EXPECT_EQ(m.Read(dir + held.name), "new");
        for (const std::string& name : m.List(dir)) {
            bool spare = name.size() > 4 && (name.compare(name.size() - 4, 4, ".old") == 0 || name == "vornhu2.ime");
            EXPECT_TRUE(spare || IsOwnedFileName(name.c_str())) << held.name << " left " << name;
        }
        EXPECT_EQ(m.Read(dir + "vonetsj.dat"), "settings");
        EXPECT_EQ(m.Read(dir + "userck.txt"), "words");
    }
    EXPECT_EQ(g_ctx.restartNeeded, 1);
    EXPECT_EQ(m.deleteAtRestart.size(), members.size());
    EXPECT_EQ(m.Read(dir + "vopykey3.txt.old"), "earlier vopykey3.txt");
    EXPECT_EQ(m.Read(dir + "vopykey2.txt"), "new");

    // The next install: the programs have ended.  A spare whose file is there
    // goes; one whose file is missing (every move of a swap failed) comes back.
    for (const std::string& name : m.List(dir)) m.Entry(dir + name)->loaded = false;
    m.Remove(dir + "vopykey3.txt");
    g_ctx.restartNeeded = 0;
    RecoverSetAsideIn(dir.c_str());
    EXPECT_EQ(m.Read(dir + "vopykey3.txt"), "earlier vopykey3.txt");
    EXPECT_EQ(m.List(dir).size(), members.size() + 2);
    EXPECT_EQ(g_ctx.restartNeeded, 0);
    SetOwnedFileNames(NULL);
    g_ctx.payload = NULL;
}

// What the whole-install sweep tells cut files by: a failed or short write
// marks the file, a truncation for a complete rewrite clears the mark.
TEST_F(FileOpsTest, SimulationMarksAFileCutByAFailedWrite) {
    m.AddDir("C:\\w");
    for (long failAt : {1, 0}) {
        HFILE f = _lcreat("C:\\w\\f.voh", 0);
        m.callCount = 0;
        m.failAt = failAt;
        EXPECT_EQ(_lwrite(f, "abcdef", 6), failAt ? 3u : 6u);
        _lclose(f);
        EXPECT_EQ(m.Entry("C:\\w\\f.voh")->cut, failAt != 0);
    }
}

TEST_F(FileOpsTest, RedirectionIsTurnedOffAndBackOn) {
    m.Make64Bit();
    ASSERT_TRUE(m.wow64Process);
    PVOID outer = DisableFsRedirection();
    ASSERT_NE(outer, nullptr);
    EXPECT_TRUE(m.redirectionDisabled);
    PVOID inner = DisableFsRedirection();
    ASSERT_NE(inner, nullptr);
    RestoreFsRedirection(inner);
    EXPECT_TRUE(m.redirectionDisabled);  // the outer one still holds
    RestoreFsRedirection(outer);
    EXPECT_FALSE(m.redirectionDisabled);

    // Windows XP 32-bit: no functions, nothing to restore.
    m.MakeXP();
    PVOID none = DisableFsRedirection();
    EXPECT_EQ(none, nullptr);
    RestoreFsRedirection(none);
    EXPECT_FALSE(m.redirectionDisabled);
}

// Every single failing call of a rename-aside leaves the file either where it
// was or under one of the two spare names, never lost.
TEST_F(FileOpsTest, RenameAsideFaultSweep) {
    const char* path = "C:\\w\\vornhu4.ime";
    int r = -2;
    long total = SweepFaults(
        [&](sim::Machine& fm) {
            fm.AddFile(path, "ime");
            fm.Entry(path)->loaded = true;
            fm.AddFile("C:\\w\\vornhu2.ime", "stale");
        },
        [](sim::Machine&) { return 0; }, [&] { r = RenameAside(path); },
        [&](sim::Machine& fm, int, bool last) {
            int copies = (fm.Read(path) == "ime") + (fm.Read("C:\\w\\vornhu2.ime") == "ime") +
                         (fm.Read("C:\\w\\vornh12.ime") == "ime");
            EXPECT_EQ(copies, 1);
            EXPECT_EQ(r == 0, !fm.Exists(path));
            if (last) {
                EXPECT_EQ(r, 0);
            }
        });
    EXPECT_GT(total, 1);
    sim::Use(&m);
}

// A loaded file is replaced whole or not at all (renamed aside first, and
// back when the new one cannot take its place): under every single failing
// call, and from every call on, it holds its old bytes or all the new ones
// and the result says which; a single failure leaves no spare behind.  Only
// when every call fails may it stay aside.
TEST_F(FileOpsTest, WriteFileWholeLeavesOldOrNewBytes) {
    const char* path = "C:\\w\\vornhu4.ime";
    const std::string fresh(5000, 'n');
    for (bool onward : {false, true}) {
        bool ok = false;
        SweepFaults(
            [&](sim::Machine& fm) {
                fm.AddFile(path, "old");
                fm.Entry(path)->loaded = true;
            },
            [](sim::Machine&) { return 0; },
            [&] { ok = WriteFileWhole(path, fresh.data(), (DWORD)fresh.size(), NULL, true); },
            [&](sim::Machine& fm, int, bool last) {
                bool aside = fm.Read("C:\\w\\vornhu2.ime") == "old" || fm.Read("C:\\w\\vornh12.ime") == "old";
                EXPECT_FALSE(fm.Exists(path) && fm.Entry(path)->cut);
                if (!(onward && !ok && aside && !fm.Exists(path))) {
                    EXPECT_EQ(fm.Read(path), ok ? fresh : "old");
                }
                EXPECT_TRUE(onward || !fm.Exists("C:\\w\\vornhu4.ime.new"));
                EXPECT_TRUE(!ok || aside);
                EXPECT_TRUE(!last || ok);
            },
            FaultClass{onward, ""});
    }
    sim::Use(&m);
}

// A directory the user may change can hold a hard link, a symbolic link or a
// junction under any of the install's names.  No elevated operation acts
// through one: a read refuses it (the log says so), a replacement replaces
// the name and never the file it led to, an attribute reset or a delete
// never reaches that file, and an archive is never appended through one.
TEST_F(FileOpsTest, NoPlantedLinkRedirectsAnElevatedOperation) {
    const std::string secret = "C:\\windows\\system32\\config\\SAM";
    m.AddFile(secret, "secret", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    m.AddDir("C:\\p");
    m.AddHardLink("C:\\p\\userck.txt", secret);
    m.AddReparsePoint("C:\\p\\delck.txt", secret, false);
    m.AddReparsePoint("C:\\p\\filer", "C:\\windows\\system32", true);
    ASSERT_TRUE(LogOpen("C:\\p\\setup.log"));
    DWORD cb = 0;
    for (const char* link : {"C:\\p\\userck.txt", "C:\\p\\delck.txt"}) {
        EXPECT_EQ(OpenSharedRead(link), INVALID_HANDLE_VALUE) << link;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANT_ACCESS_FILE);
        EXPECT_EQ(ReadFileShared(link, 1000, 0, &cb), nullptr);
        EXPECT_FALSE(AddFileToArchive("C:\\p\\vornback.new", link));
        EXPECT_FALSE(CopyFileWhole(link, "C:\\p\\copy.bak"));
    }
    EXPECT_FALSE(m.Exists("C:\\p\\vornback.new"));
    EXPECT_FALSE(m.Exists("C:\\p\\copy.bak"));
    LogClose();
    EXPECT_NE(m.Read("C:\\p\\setup.log").find("C:\\p\\userck.txt: a link to another file"), std::string::npos);

    // Replaced or deleted, a name goes; the file it led to keeps its bytes
    // and attributes.
    EXPECT_EQ(m.Entry("C:\\p\\userck.txt")->attributes, (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(WriteFileWhole("C:\\p\\userck.txt", "mine", 4));
    EXPECT_EQ(m.Read("C:\\p\\userck.txt"), "mine");
    EXPECT_EQ(DeleteIfPresent("C:\\p\\delck.txt"), 0);
    EXPECT_FALSE(m.Exists("C:\\p\\delck.txt"));
    EXPECT_EQ(DeleteIfPresent("C:\\p\\filer"), 0);
    EXPECT_EQ(m.Read(secret), "secret");
    EXPECT_EQ(m.Entry(secret)->attributes, (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));

    // An archive that turned into a link between two members is not written.
    m.AddFile("C:\\p\\a.txt", "a");
    m.AddFile("C:\\p\\b.txt", "b");
    ASSERT_TRUE(AddFileToArchive("C:\\p\\vornback.new", "C:\\p\\a.txt"));
    m.Remove("C:\\p\\vornback.new");
    m.AddHardLink("C:\\p\\vornback.new", secret);
    EXPECT_FALSE(AddFileToArchive("C:\\p\\vornback.new", "C:\\p\\b.txt"));
    EXPECT_EQ(m.Read(secret), "secret");
}
