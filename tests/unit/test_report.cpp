// The install report: a sound installation is never reported, and the first
// failing check is reported with its exact code line.
#include "sim_fixture.h"
#include "userdata/userdata.h"

namespace {
const char* kDir = "C:\\Program Files\\vornhu\\";
const std::string kHead = "智能砚舟汉字输入系统7.7版安装情况报告。\r\n\r\n安装出现错误！错误为：";
const std::string kAdvice = "\r\n\r\n请到主页www.vornhu.com.cn重新下载安装！并解除杀毒软件对安装过程的拦截！\r\n\r\n";

std::string At(const std::string& name) { return std::string(kDir) + name; }
}  // namespace

class ReportTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
        // A fresh installation: 74 files, the dictionaries as ".bak" (no
        // ".voh" yet), the input method, and the "filer" subdirectory.
        const std::string body(40, 'd');
        m.AddFile(At("vorncyzk.bak"), body);
        m.AddFile(At("vornpyck.bak"), body);
        m.AddFile(At("vornhu4.ime"), body);
        for (int i = 0; i < 71; i++) m.AddFile(At("f" + std::to_string(i) + (i % 2 ? ".voh" : ".ov1")), "x");
        m.AddDir(At("filer"));
    }
    // The one report shown, or "" when none was.
    std::string Report() {
        size_t before = m.boxes.size();
        int shown = ReportInstallResult();
        EXPECT_EQ(shown, m.boxes.size() > before ? 1 : 0);
        if (m.boxes.size() == before) return "";
        EXPECT_EQ(m.boxes.size(), before + 1);
        const sim::MessageBoxCall& box = m.boxes.back();
        EXPECT_FALSE(box.wide);
        EXPECT_EQ(box.title, "智能砚舟");
        EXPECT_EQ(box.flags, (UINT)MB_OK);
        EXPECT_EQ(box.owner, nullptr);
        return box.text;
    }
    std::string Problem(const std::string& codes, const std::string& text) { return kHead + codes + text + kAdvice; }
};

TEST_F(ReportTest, SoundInstallationIsNotReported) {
    EXPECT_EQ(Report(), "");
    EXPECT_EQ(g_survey.pathScore, 14);
    EXPECT_EQ(g_survey.recordFiles + g_survey.otherFiles + g_survey.textFiles, 74u);  // "filer" not counted
    EXPECT_EQ(m.liveAllocations, 0u);

    // A directory Windows marks compressed and not content-indexed is still a
    // directory; 300 files of one kind do not wrap to 44.
    m.Entry(kDir)->attributes |= FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    for (int i = 0; i < 300; i++) m.AddFile(At("u" + std::to_string(i) + ".TXT.voh"), "t");
    EXPECT_EQ(Report(), "");
    EXPECT_EQ(g_survey.textFiles, 300u);  // ".txt" is tested first, in any letter case

    // Without its working memory the report stays silent.
    m.Remove(At("vornhu4.ime"));
    m.callCount = 0;
    m.failAt = 1;
    EXPECT_EQ(Report(), "");
    EXPECT_EQ(m.failedCall, "GlobalAlloc");
}

TEST_F(ReportTest, FirstFailingCheckIsShownWithItsCodeLine) {
    const std::string path = "path--C:\\Program Files\\vornhu\\--14;";
    // The example for a missing input method file.
    m.Remove(At("vornhu4.ime"));
    m.AddFile(At("other.ov1"), "keeps the count at 74");
    EXPECT_EQ(Report(), Problem(path + "F--74;FR1--1400;FR2--1400;FR3--2;", "缺少文件！"));

    // One file fewer fails the count; the later checks are not run.
    m.Remove(At("other.ov1"));
    EXPECT_EQ(Report(), Problem(path + "F--73;", "文件不完整！"));
    m.AddFile(At("vornhu4.ime"), std::string(40, 'i'));

    // The last of the three names probed gives the code: a 10-byte ".dat"
    // read 10 bytes (a00); an unreadable one gives -1 x 256 + 5.
    m.Remove(At("vorncyzk.bak"));
    m.AddFile(At("vorncyzk.dat"), std::string(10, 'p'));
    m.AddFile(At("vorncyzk.voh"), std::string(19, 'p'));
    EXPECT_EQ(Report(), Problem(path + "F--75;FR1--a00;", "无五笔词库文件！"));
    m.Entry(At("vorncyzk.dat"))->unreadable = true;
    EXPECT_EQ(Report(), Problem(path + "F--75;FR1--ffffff05;", "无五笔词库文件！"));
    m.AddFile(At("vorncyzk.voh"), std::string(20, 'p'));  // exactly 20 bytes pass
    m.Remove(At("vornpyck.bak"));
    EXPECT_EQ(Report(), Problem(path + "F--74;FR1--1400;FR2--2;", "无拼音词库文件！"));

    // A directory that is not there: nothing listed, nothing entered.
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "D:\\nowhere\\vornhu");
    EXPECT_EQ(Report(), Problem("path--D:\\nowhere\\vornhu\\--0;", "检测不到安装路径！"));
}
