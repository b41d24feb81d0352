// The simulated file system on GBK names whose trail byte is "\" (0x5C):
// such a byte never separates, and a wildcard "?" is one whole character.
#include "sim_fixture.h"

TEST_F(SimTest, GbkTrailBackslashIsNeitherSeparatorNorTwoCharacters) {
    const std::string dir = "C:\\d\\\xd5\x5c";            // one character, trail byte 0x5C
    const std::string file = "C:\\d\\\xd5\x5cx.txt";
    m.AddDir("C:\\d");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), NULL)) << GetLastError();
    HFILE f = _lcreat((dir + "\\in.txt").c_str(), 0);
    ASSERT_NE(f, HFILE_ERROR);
    _lclose(f);
    m.AddFile(file, "x");

    EXPECT_EQ(m.List("C:\\d"), (std::vector<std::string>{"\xd5\x5c", "\xd5\x5cx.txt"}));
    EXPECT_EQ(m.List(dir), (std::vector<std::string>{"in.txt"}));

    WIN32_FIND_DATAA data;
    const struct {
        const char* pattern;
        const char* found;  // null: nothing
    } cases[] = {
        {"C:\\d\\*.txt", "\xd5\x5cx.txt"},
        {"C:\\d\\?x.txt", "\xd5\x5cx.txt"},
        {"C:\\d\\??x.txt", nullptr},
        {"C:\\d\\\xd5\x5cX.TXT", "\xd5\x5cx.txt"},
        {"C:\\d\\\xd5\x5c\\*.txt", "in.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        HANDLE h = FindFirstFileA(c.pattern, &data);
        if (!c.found) {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            continue;
        }
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_STREQ(data.cFileName, c.found);
        EXPECT_FALSE(FindNextFileA(h, &data));
        FindClose(h);
    }
    // Removing the directory's contents and then the directory works by name.
    EXPECT_TRUE(DeleteFileA((dir + "\\in.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(dir.c_str())) << GetLastError();
    EXPECT_EQ(m.List("C:\\d"), (std::vector<std::string>{"\xd5\x5cx.txt"}));
}
