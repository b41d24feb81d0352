// Every text the setup driver shows or writes.
#pragma once

#include "platform/win32.h"

#define TITLE_VORN_W WSZ("智能砚舟")
#define TITLE_INSTALL_W WSZ("智能砚舟安装")

#define MSG_NEED_ADMIN_W                                                                                 \
    WSZ("本安装程序需要以管理员权限运行，请退出后重新以管理员权限运行。（运行方式为：用鼠标右键点击安装程序，" \
        "在弹出菜单中点击“以管理员身份运行”）")
#define MSG_REGISTERED_W WSZ("智能砚舟已安装成功，如不能使用，请重新启动计算机！")
#define MSG_IME_LOCKED_W                                                                                  \
    WSZ("　　你以前安装的砚舟五笔正在使用，请关闭使用砚舟五笔的所有窗口，或者重新启动机器后，才能安装新版本的" \
        "砚舟五笔！")

// Command-line words.
#define WORD_REGISTER "regvo32"
#define WORD_REGISTER_DIR "regvo32="
#define WORD_SILENT "setvosrf32"

// Paths.
#define PROBE_TEXT "vornisadmin"
#define DEFAULT_PROGRAM_FILES "c:\\Program Files"
#define INSTALL_SUBDIR "vornhu\\"
#define PATH_RECORD_NAME "vornpath.voh"
#define FMT_PATH_RECORD "%s\\vornpath.voh"
#define FMT_DRIVE_RECORD "%svornpath.voh"
#define FMT_DRIVE_DIR "%svornhu\\"
#define FMT_WOW_DIR "%s\\syswow64"
#define FMT_OLD_IME "%s\\vornhu4.ime"
#define FMT_FILER_DIR "%sfiler\\"
// The program path is quoted: the directory usually holds a space.
#define FMT_AUTOSTART "\"%svorntavk.exe\" vo"
// Quoted: unquoted, Windows would try C:\Program.exe first, and the started
// program would take "Files\vornhu\setupw64.exe" for the start of its arguments.
#define FMT_REGISTER64 "\"%ssetupw64.exe\" regvo32=%s"

// The DLL search order, set at start.
#define DLL_KERNEL32_NAME "kernel32.dll"
#define FN_SET_DEFAULT_DLL_DIRECTORIES "SetDefaultDllDirectories"
#define FN_SET_DLL_DIRECTORY_W "SetDllDirectoryW"
