// Every text of the input-method registration: layout texts, registry names
// and messages.  Narrow texts are GBK unless marked Big5.
#pragma once

#include "platform/win32.h"

// The layout's display name, given to ImmInstallIMEW.
#define LAYOUT_TEXT_W WSZ("智能砚舟输入平台  7.7")
#define LAYOUT_TEXT_GBK "智能砚舟输入平台  7.7"
// Big5: 智能硯舟輸入平台  7.7
#define LAYOUT_TEXT_BIG5 "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78" "  7.7"
// The first eight characters: what identifies this input method's entries
// of every version.
#define IME_DESC_GBK "智能砚舟输入平台"
// Big5: 智能硯舟輸入平台
#define IME_DESC_BIG5 "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78"
// Preload entries are recognised by these six characters, in GBK whatever
// the code page.
#define IME_SHORT_DESC_GBK "智能砚舟输入"

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
#define KEY_CURRENT_VERSION "Software\\Microsoft\\Windows\\CurrentVersion"
#define KEY_RUN "Run"
#define VALUE_AUTOSTART "voyzsjgl"
#define KEY_USER_AGENT "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent"
#define KEY_POST_PLATFORM "Post Platform"
#define BROWSER_TOKEN "tavk7700"
// Earlier tokens are this one with its fifth and sixth characters changed.
#define BROWSER_TOKEN_OLDEST "tavk6300"

// The low integrity level, through the system's own icacls.exe.
#define FMT_ICACLS "\"%s\\icacls.exe\" \"%s\" /SetIntegrityLevel Level: L"

// Messages.
#define TITLE_VORN "智能砚舟"
#define TITLE_VORN_WUBI "智能砚舟(砚舟五笔)"
#define MSG_NEED_ADMIN_NT "在WIN2000和WIN NT系统中安装本软件时，需要以系统管理员身份才能安装成功！"
#define MSG_OPEN_LAYOUTS_9X "Software open error1003"
#define MSG_CREATE_ENTRY_9X "Software open error1004"
#define MSG_OPEN_PRELOAD "Software open error2003"

// The log: registry roots and the platform's registration.
#define LOG_ROOT_HKLM "HKLM"
#define LOG_ROOT_HKCU "HKCU"
#define LOG_IME_INSTALL "ImmInstallIMEW(\"%s\", \"%s\") -> %s"
