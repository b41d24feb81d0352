// Programs that hold the input method: the window scan and its message, and
// the shared-memory test.
#include "sim_fixture.h"

namespace {
const std::u16string kTail = u"\r\n\r\n请关闭上述软件后再继续安装！\r\n如无法关闭，则请重新启动机器后立即安装！";

std::u16string Head(int count) {
    return u"智能砚舟安装软件检测到有下列 " + sim::Utf8ToUtf16(std::to_string(count)) +
           u" 个软件在使用智能砚舟输入法:\r\n\r\n";
}
std::u16string Line(int n, const std::u16string& title) {
    return u"　　" + sim::Utf8ToUtf16(std::to_string(n)) + u"：" + title + u"\r\n";
}
}  // namespace

class InUseTest : public SimTest {};

TEST_F(InUseTest, EachImeWindowIsListedByItsTopLevelOwnersTitle) {
    HWND notepad = m.gui.AddWindow("Notepad", u"无标题 - 记事本");
    EXPECT_EQ(FindProgramsUsingIme(), 0);
    EXPECT_EQ(std::u16string(InUseMessage()), u"");

    HWND word = m.gui.AddWindow("OpusApp", u"文档1 - Word");
    HWND find = m.gui.AddWindow("#32770", u"查找", word);
    m.gui.AddWindow("UITAVK", u"", find);     // owner chain: find, then word
    m.gui.AddWindow("uitavk", u"", notepad);  // the class name is compared exactly
    m.gui.AddWindow("UITAVK", u"", nullptr);  // counted, but names no program
    HWND browser = m.gui.AddWindow("IEFrame", std::u16string(250, u'页'));
    m.gui.AddWindow("UITAVK", u"", browser);
    m.gui.AddWindow("UITAVK", u"", word);     // a program is listed once per window

    EXPECT_EQ(FindProgramsUsingIme(), 4);
    EXPECT_EQ(std::u16string(InUseMessage()), Head(4) + Line(1, u"文档1 - Word") +
                                                  Line(3, std::u16string(199, u'页')) + Line(4, u"文档1 - Word") +
                                                  kTail);

    // Every call starts afresh.
    EXPECT_EQ(FindProgramsUsingIme(), 4);
    EXPECT_EQ(std::u16string(InUseMessage()).substr(0, Head(4).size()), Head(4));
}

TEST_F(InUseTest, ThousandsOfWindowsOverrunNothing) {
    const int kPrograms = 3000;
    for (int i = 0; i < kPrograms; i++)
        m.gui.AddWindow("UITAVK", u"", m.gui.AddWindow("App", std::u16string(300, (char16_t)(u'a' + i % 26))));
    EXPECT_EQ(FindProgramsUsingIme(), kPrograms);
    std::u16string message = InUseMessage();
    // Far beyond the 131,072 characters a fixed area would hold.
    EXPECT_GT(message.size(), 600000u);
    EXPECT_EQ(message.substr(0, Head(kPrograms).size()), Head(kPrograms));
    std::u16string last = Line(kPrograms, std::u16string(199, (char16_t)(u'a' + (kPrograms - 1) % 26))) + kTail;
    EXPECT_EQ(message.substr(message.size() - last.size()), last);
}

TEST_F(InUseTest, SharedMemoryIsSeenWhileItExistsAndTheHandleIsClosed) {
    EXPECT_FALSE(IsImeDataInMemory());
    m.fileMappings.insert("vornhutavk_old");
    EXPECT_FALSE(IsImeDataInMemory());
    m.fileMappings.insert("vornhutavk");
    EXPECT_TRUE(IsImeDataInMemory());
    EXPECT_TRUE(m.mappingHandles.empty());
}
