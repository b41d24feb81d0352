// Every text the setup driver shows or writes.
#pragma once

#include "platform/win32.h"
#include "setup/version.h"

#define TITLE_VORN_W WSZ("智能砚舟")
#define TITLE_INSTALL_W WSZ("智能砚舟安装")

#define MSG_NEED_ADMIN_W                                                                                 \
    WSZ("本安装程序需要以管理员权限运行，请退出后重新以管理员权限运行。（运行方式为：用鼠标右键点击安装程序，" \
        "在弹出菜单中点击“以管理员身份运行”）")
#define MSG_REGISTERED_W WSZ("智能砚舟已安装成功，如不能使用，请重新启动计算机！")
// Another setup holds the one-setup-at-a-time lock: this one changes nothing.
#define MSG_ANOTHER_SETUP_W WSZ("另一个智能砚舟安装程序正在运行，请等它结束后再运行本安装程序。")
#define MSG_IME_LOCKED_W                                                                                  \
    WSZ("　　你以前安装的砚舟五笔正在使用，请关闭使用砚舟五笔的所有窗口，或者重新启动机器后，才能安装新版本的" \
        "砚舟五笔！")

// Command-line words.
#define WORD_REGISTER "regvo32"
#define WORD_REGISTER_DIR "regvo32="
#define WORD_SILENT "setvosrf32"
// The per-user step that every user's logon runs (Active Setup).
#define WORD_PERUSER "/peruser"

// Paths.
#define PROBE_TEXT "vornisadmin"
#define DEFAULT_PROGRAM_FILES "c:\\Program Files"
#define INSTALL_SUBDIR "vornhu\\"
#define PATH_RECORD_NAME "vornpath.voh"
#define FMT_PATH_RECORD "%s\\vornpath.voh"
#define FMT_DRIVE_RECORD "%svornpath.voh"
// The rights check's scratch file beside the record.
#define FMT_RIGHTS_PROBE "%s\\vornprobe.voh"
#define FMT_DRIVE_DIR "%svornhu\\"
#define FMT_WOW_DIR "%s\\syswow64"
#define FMT_FILER_DIR "%sfiler\\"
// The program path is quoted: the directory usually holds a space.
#define FMT_AUTOSTART "\"%s\" vo"
// Quoted: unquoted, Windows would try C:\Program.exe first, and the started
// program would take "Files\vornhu\setupw64.exe" for the start of its arguments.
// The 64-bit registration program, started from a directory of its own:
// its path in that directory, the installation directory; and where that
// directory is made (the Windows Temp directory, else the Windows one).
#define FMT_REGISTER64_EXE "%s\\setupw64.exe"
#define FMT_REGISTER64 "\"%s\" regvo32=%s"
#define FMT_WINDOWS_TEMP "%s\\Temp"

// The DLL search order, set at start.
#define DLL_KERNEL32_NAME "kernel32.dll"
#define FN_SET_DEFAULT_DLL_DIRECTORIES "SetDefaultDllDirectories"
#define FN_SET_DLL_DIRECTORY_W "SetDllDirectoryW"
// The quiet setting and the log reach the 64-bit registration program
// through the environment it inherits: its command line must end with the
// directory.
#define ENV_QUIET "VORNSETUP_QUIET"
#define ENV_LOG "VORNSETUP_LOG"
#define ENV_QUIET_ON "1"

// Words for unattended installs, each a word of its own on the command line
// (any letter case); they apply to the silent install.  "/log=" is followed
// by the log file's path; quotes around the path or the whole word let it
// hold spaces: /log="C:\My Logs\vorn.log" or "/log=C:\My Logs\vorn.log".
#define WORD_QUIET "/quiet"
#define WORD_LOG "/log="
// The help, a word of its own too ("/help" in any letter case).
#define WORD_HELP_SHORT "/?"
#define WORD_HELP "/help"
// The organisation's web address for the silent install, stored as the
// options page stores it: /url=http://www.example.cn/ (quotes as for /log=).
#define WORD_URL "/url="

// One setup at a time, whatever the user and session: a mutex in the global
// namespace, or the one namespace of Windows NT 4.0, which has no "Global\".
#define SETUP_LOCK_GLOBAL "Global\\vornhusetup"
#define SETUP_LOCK_PLAIN "vornhusetup"
// The setup that starts the 64-bit registration program tells it so (its
// process id): that program runs while the setup holds the lock.
#define ENV_STARTED_BY "VORNSETUP_STARTED_BY"

// The help box (MessageBoxW, title "智能砚舟安装", MB_OK): every word, and the
// silent install's exit codes.
#define MSG_HELP_W                                                         \
    WSZ("智能砚舟 " VORN_VERSION_SHORT " 安装程序的命令行：\r\n"               \
        "\r\n"                                                             \
        "（不带参数）：打开安装窗口。\r\n"                                  \
        "setvosrf32：不打开窗口，直接安装。\r\n"                            \
        "/quiet：与 setvosrf32 同用，不显示任何消息框，每个提问取默认回答。\r\n" \
        "/log=<文件>：把安装过程追加记录到该文件（安装窗口也可用）；"      \
        "路径中有空格时请加引号：/log=\"C:\\My Logs\\vorn.log\"。\r\n"      \
        "/url=<网址>：与 setvosrf32 同用，把所在单位网址设为该网址（同安装窗口的选项页：" \
        "最多 99 个字节，到换行为止）；不给时保留原有网址。\r\n"          \
        "/? 或 /help：显示本说明，不安装。\r\n"                             \
        "regvo32=<目录>：在 64 位 Windows 中登记已装在该目录中的输入法，"   \
        "由安装程序自动调用。\r\n"                                          \
        "\r\n"                                                             \
        "setvosrf32 的退出码：\r\n"                                         \
        "0：安装成功。\r\n"                                                 \
        "2：安装已进行到底，但有步骤失败。\r\n"                             \
        "3：以前安装的输入法正在使用，没有安装。\r\n"                       \
        "4：安装数据不完整或内存不足，没有安装。\r\n"                       \
        "5：没有管理员权限，没有安装。\r\n"                                 \
        "3010：安装成功，需要重新启动计算机才能完成。\r\n"                  \
        "1618：另一个安装程序正在运行，没有安装；请稍后再试。\r\n"          \
        "\r\n"                                                             \
        "安装窗口和 regvo32= 的退出码为 0，另一个安装程序正在运行时为 1618；" \
        "本说明的退出码总是 0。")

// The log: one line per event.
#define LOG_LINE_HEAD "%04d-%02d-%02d %02d:%02d:%02d.%03d [%lu] "
// With the whole version (build number too): "which setup did you run?"
#define LOG_START                                                                             \
    "start: 智能砚舟 setup " VORN_VERSION_FULL " (%d-bit program), command line \"%s\"; "        \
    "Windows %lu.%lu.%lu, %s Windows; OEM code page %u, ANSI code page %u; installation directory %s"
#define LOG_BITS_64 "64-bit"
#define LOG_BITS_32 "32-bit"
#define LOG_QUIET "quiet: message boxes are not shown; each takes its default answer"
#define LOG_RIGHTS_CHECK "administrator rights check (Vista and later: a probe written beside the path record and read back)"
#define LOG_RIGHTS_MISSING "administrator rights are missing"
#define LOG_MODE_SILENT "silent install"
#define LOG_MODE_REGISTER "64-bit registration of the input method in %s"
#define LOG_MODE_WINDOW "the setup window runs"
#define LOG_PAYLOAD_MISSING "the payload resource or the 2 MiB work buffer could not be had"
#define LOG_END "end: exit code %d (%s), %lu ms"
#define LOG_EXIT_OK "installed; no step reported a failure"
#define LOG_EXIT_PERUSER "per-user step done"
#define LOG_EXIT_STEP_FAILED "the install ran to its end, but a step reported a failure"
#define LOG_EXIT_IME_LOCKED "stopped before anything was placed: the earlier input method is locked"
#define LOG_EXIT_NO_PAYLOAD "the payload resource or the work buffer could not be had"
#define LOG_EXIT_NOT_ADMIN "no administrator rights; nothing was installed"
#define LOG_EXIT_RESTART "installed; a restart is needed to finish: a loaded input method was moved aside"
#define LOG_EXIT_HELP "the help was shown; nothing was installed"
#define LOG_EXIT_REGISTERED "registration done"
#define LOG_EXIT_WINDOW "the setup window ended"
#define LOG_EXIT_RIGHTS_SHOWN "the missing rights were reported"
#define LOG_EXIT_ANOTHER_SETUP "another setup is running; nothing was changed"
#define LOG_LOCK_TAKEN "one setup at a time: %s is ours until the end"
#define LOG_LOCK_ABANDONED "one setup at a time: the setup that held %s ended without letting it go"
#define LOG_LOCK_OTHERS "one setup at a time: %s is held by a program without administrator rights, not by a setup; going on without it"
#define LOG_LOCK_NONE "one setup at a time: %s could not be had (error %lu); going on without it"
#define LOG_LOCK_STARTED_BY "one setup at a time: started by the setup (process %s), which holds the lock"
#define LOG_MESSAGE "message box \"%s\": %s -> %s%s"
#define LOG_ANSWER_OK "OK"
#define LOG_ANSWER_YES "Yes"
#define LOG_ANSWER_NO "No"
#define LOG_ANSWER_OTHER "other"
#define LOG_NOT_SHOWN " (quiet: not shown)"
#define LOG_STEP_BEGIN "step %s: begin"
#define LOG_STEP_END "step %s: end (%d failure messages so far)"
#define LOG_REGISTER64_NOT_STARTED "the 64-bit registration program was not started: %s"
#define LOG_REGISTER64_NO_BYTES "its payload member does not check out"
#define LOG_REGISTER64_NO_DIRECTORY "no directory only administrators can change could be made"
#define LOG_REGISTER64_NOT_WRITTEN "it could not be written there"
#define LOG_REGISTER64_NO_MARK "its environment could not say which setup started it"
#define LOG_REGISTER64_START_FAILED "Windows did not start it (error %lu)"
#define LOG_REGISTER64_ENDED "the 64-bit registration program ended with exit code %lu; %s removed"
#define LOG_REGISTER64_STILL_RUNNING "the 64-bit registration program is still running; %s goes at the next restart"
#define LOG_STEP_STOPPED "step %s: the sequence stops here"
#define STEP_DIRECTORIES "directories and path record"
#define STEP_CONFIGURATION "configuration files"
#define STEP_OLD_IME "earlier input method"
#define STEP_UNPACK "program files, unpack pass"
#define STEP_LAYOUT "keyboard layout"
#define STEP_REPLACE "program files, full input methods"
#define STEP_BROWSER "browser tag"
#define STEP_AUTOSTART "auto-start entry"
#define STEP_PERUSER "every user's next logon (Active Setup)"
#define STEP_REGISTER64 "64-bit registration program"
#define LOG_FILE_PLACED "file %s -> %s, %lu bytes"
#define LOG_FILE_PLACED_NO_SIZE "file %s -> %s"
#define LOG_REG_KEY "registry key %s\\%s\\%s"
#define LOG_REG_VALUE "registry value \"%s\" = \"%s\""
#define LOG_PROCESS "process started: %s (WinExec returned %u)"
#define LOG_PROCESS_CREATED "process started: %s (process id %lu)"
