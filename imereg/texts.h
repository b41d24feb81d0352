// Every text of the input-method registration: layout texts, registry names
// and messages.  Narrow texts are GBK unless marked Big5.
#pragma once

#include "platform/win32.h"
#include "setup/version.h"

// The layout's display name, given to ImmInstallIMEW.
#define LAYOUT_TEXT_W WSZ("智能砚舟输入平台  7.7")
// On a traditional-Chinese system (OEM code page 950).
#define LAYOUT_TEXT_BIG5_W WSZ("智能硯舟輸入平台  7.7")
#define LAYOUT_TEXT_GBK "智能砚舟输入平台  7.7"
// Big5: 智能硯舟輸入平台  7.7
#define LAYOUT_TEXT_BIG5 "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78" "  7.7"
// The first eight characters: what identifies this input method's entries
// of every version.
#define IME_DESC_GBK "智能砚舟输入平台"
// Big5: 智能硯舟輸入平台
#define IME_DESC_BIG5 "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78"
// As the earlier versions wrote it in UTF-16 (their layout text, the version
// text of their input method files).
#define IME_DESC_W WSZ("智能砚舟输入平台")
// Preload entries are recognised by the first six characters.
#define IME_SHORT_DESC_GBK "智能砚舟输入"
// Big5: 智能硯舟輸入
#define IME_SHORT_DESC_BIG5 "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a"

#define FMT_IME_FILE_W WSZ("\\vornhu4.ime")
#define IME_FILE_VALUE "VORNHU4.IME"
#define LAYOUT_FILE_NT "kbdus.dll"
#define LAYOUT_FILE_9X "kbdus.kbd"
#define SUFFIX_SIMPLIFIED "804"
#define SUFFIX_TRADITIONAL "404"

// Registry keys and values.
#define KEY_LAYOUTS "System\\CurrentControlSet\\Control\\Keyboard Layouts"
#define VALUE_IME_FILE "IME file"
#define VALUE_LAYOUT_FILE "layout file"
#define VALUE_LAYOUT_TEXT "layout text"
#define KEY_USER_LAYOUT "keyboard layout"
#define KEY_DEFAULT_LAYOUT ".DEFAULT\\keyboard layout"
#define KEY_PRELOAD "preload"
#define KEY_USER_PRELOAD "keyboard layout\\preload"
#define KEY_UNINSTALL_W WSZ("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
#define KEY_UNINSTALL_ENTRY_W WSZ("vornqwb")
#define VALUE_DISPLAY_NAME_W WSZ("DisplayName")
#define VALUE_UNINSTALL_STRING_W WSZ("UninstallString")
#define DISPLAY_NAME_W WSZ("砚舟五笔")
#define FMT_UNINSTALLER_W WSZ("\\vorndel.exe")
// What Programs and Features and deployment tools' detection rules read:
// the setup's whole version (a build given out later is told apart), the
// maker as the version resource names it, the size in KiB.
#define VORN_WIDE_TEXT(s) WSZ(s)
#define VALUE_DISPLAY_VERSION_W WSZ("DisplayVersion")
#define DISPLAY_VERSION_W VORN_WIDE_TEXT(VORN_VERSION_FULL)
#define VALUE_PUBLISHER_W WSZ("Publisher")
#define PUBLISHER_W WSZ("砚舟软件")
#define VALUE_ESTIMATED_SIZE_W WSZ("EstimatedSize")
#define VALUE_ESTIMATED_SIZE "EstimatedSize"
#define KEY_CURRENT_VERSION "Software\\Microsoft\\Windows\\CurrentVersion"
#define KEY_RUN "Run"
#define VALUE_AUTOSTART "voyzsjgl"
#define LOG_AUTOSTART_REMOVED "registry value \"voyzsjgl\" removed: no companion program in a system directory to start"
#define KEY_USER_AGENT "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent"
#define KEY_POST_PLATFORM "Post Platform"
#define BROWSER_TOKEN "tavk7700"
// Earlier tokens are this one with its fifth and sixth characters changed.
#define BROWSER_TOKEN_OLDEST "tavk6300"

// Active Setup: every user's next logon runs the per-user step once per
// version.  The id stays the same for every version of the product.
#define KEY_ACTIVE_SETUP "SOFTWARE\\Microsoft\\Active Setup\\Installed Components"
#define ACTIVE_SETUP_ID "{6B0E3F52-9A7C-4D18-B2E4-5C1F0A9D7E36}"
#define ACTIVE_SETUP_NAME_W WSZ("智能砚舟")
#define VALUE_AS_VERSION "Version"
#define VALUE_AS_STUB_PATH "StubPath"
#define VALUE_AS_IS_INSTALLED "IsInstalled"
// "7,7,1,0": Active Setup's form of the version.
#define ACTIVE_SETUP_VERSION                                                                              \
    VORN_VERSION_STR(VORN_VERSION_MAJOR) "," VORN_VERSION_STR(VORN_VERSION_MINOR) "," VORN_VERSION_STR( \
        VORN_VERSION_BUILD) "," VORN_VERSION_STR(VORN_VERSION_REVISION)
#define FMT_PERUSER_COMMAND "\"%s\" /peruser"

// The low integrity level, through the system's own icacls.exe.
#define FMT_ICACLS "\"%s\\icacls.exe\" \"%s\" /SetIntegrityLevel Level: L"

// Messages.
#define TITLE_VORN "智能砚舟"
#define TITLE_VORN_WUBI "智能砚舟(砚舟五笔)"
#define MSG_NEED_ADMIN_NT "在WIN2000和WIN NT系统中安装本软件时，需要以系统管理员身份才能安装成功！"
#define MSG_OPEN_LAYOUTS_9X "Software open error1003"
#define MSG_CREATE_ENTRY_9X "Software open error1004"
#define MSG_OPEN_PRELOAD "Software open error2003"

// The default-input-method check before an interactive install (MessageBoxW,
// title "智能砚舟安装").  The first three begin with two ideographic spaces.
#define MSG_ONLY_IME_W                                                                                        \
    WSZ("　　你以前安装的智能砚舟为系统默认输入法，并且是系统安装的唯一输入法，请通过微软的输入法管理器增加英文" \
        "输入法，并将智能砚舟输入法设置为系统非默认输入法后，重新启动机器才能安装新版本的智能砚舟！")
#define MSG_DEFAULT_IME_W \
    WSZ("　　你以前安装的智能砚舟为系统默认输入法，请设置为系统非默认输入法后，重新启动机器才能安装新版本的智能砚舟！")
#define MSG_ACTIVE_IME_W                                                                                      \
    WSZ("　　你以前安装的砚舟五笔为系统默认输入法，请通过微软的输入法管理器将砚舟五笔输入法设置为系统非默认输入法" \
        "后，重新启动机器才能安装新版本的砚舟五笔！")
#define MSG_MAKE_NON_DEFAULT_W WSZ("是否设置智能砚舟为系统非默认输入法？")
#define MSG_RESTART_FIRST_W WSZ("请重新启动机器后安装智能砚舟！")

// Objects of a running input method.
#define IME_UI_CLASS "UITAVK"
#define IME_SHARED_MEMORY "vornhutavk"

// The in-use message, built from these pieces around the count and the
// program list; each line is the prefix, the count, the colon and a title.
#define INUSE_HEAD_W WSZ("智能砚舟安装软件检测到有下列 ")
#define INUSE_HEAD_TAIL_W WSZ(" 个软件在使用智能砚舟输入法:\r\n\r\n")
#define INUSE_LINE_PREFIX_W WSZ("　　")
#define INUSE_LINE_COLON_W WSZ("：")
#define INUSE_NEWLINE_W WSZ("\r\n")
#define INUSE_CLOSE_THEM_W WSZ("请关闭上述软件后再继续安装！")
#define INUSE_OR_RESTART_W WSZ("如无法关闭，则请重新启动机器后立即安装！")

// The user's input profiles (Windows 8 and later): input language, then the
// layout id, as InstallLayoutOrTip takes them.
#define DLL_INPUT "input.dll"
#define FN_INSTALL_LAYOUT_OR_TIP "InstallLayoutOrTip"
#define FMT_INPUT_PROFILE "%04X:%08lX"

// The log: registry roots and the platform's registration.
#define LOG_ROOT_HKLM "HKLM"
#define LOG_ROOT_HKCU "HKCU"
#define LOG_IME_INSTALL "ImmInstallIMEW(\"%s\", \"%s\") -> %s"
#define LOG_PROFILE_CALL "InstallLayoutOrTip(\"%s\", 0) -> TRUE"
#define LOG_PROFILE_FAILED "InstallLayoutOrTip(\"%s\", 0) -> FALSE, error %lu"
#define LOG_PROFILE_NO_DLL "input profile %s not added: %s cannot be loaded"
#define LOG_PROFILE_NO_FUNCTION "input profile %s not added: %s has no InstallLayoutOrTip"
#define LOG_PROFILE_NO_LAYOUT "input profile not added: the registration gave no layout id"
#define LOG_AS_VALUE_DWORD "registry value \"%s\" = %lu"
#define LOG_AS_DISABLED "Active Setup entry %s: IsInstalled = 0 (no per-user program in the system directory)"
#define LOG_SESSION_USER "the user at the session is %s (%s), not the account the setup runs as: he gets the layout and the installation directory's access too"
#define LOG_SESSION_GRANT "installation directory's access for %s: %s"
#define LOG_SESSION_PRELOAD "layout %s in the preload list of %s (HKEY_USERS\\%s): %s"
#define LOG_SESSION_PROFILE_LATER "language list of %s: at his next logon, by the per-user step"
#define LOG_PROFILE_SYSTEM_ACCOUNT "input profile not added for the system account: every user's language list gets it at his next logon"
#define LOG_DONE "done"
#define LOG_NOT_DONE "not done"
#define LOG_PERUSER_STEP "per-user step: layout %08lx for this user's preload list"
#define LOG_PERUSER_NOTHING "per-user step: the input method is not installed; nothing changed"
