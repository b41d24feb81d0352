// Every text and file name of the payload: unpacking, verification, the
// restore of the user's data and the placement of the program files.
#pragma once

#include "platform/win32.h"

// Message titles.
#define PAYLOAD_TITLE_INSTALL "智能砚舟安装"
#define PAYLOAD_TITLE_VORN "智能砚舟"
#define PAYLOAD_TITLE_VORN_W WSZ("智能砚舟")
#define PAYLOAD_TITLE_PLACE "智能砚舟(砚舟五笔)安装"

// Unpacking and verification.
#define MSG_MEMBER_FAILED_FMT "没有成功解压复制%s文件！请重新下载安装。"
#define VERIFY_FAILURE_MARK "...."
#define MSG_VERIFY_INCOMPLETE "有文件没有成功解压，请重新下载安装！\r\n"
#define MSG_BREAK "\r\n\r\n"
// The members that later steps change, delete or rename after unpacking.
#define VERIFY_EXCLUSIONS \
    "vorn320.ime vorn321.ime vorn640.ime vorn641.ime voszsj43.voh setupw64.exe vorncyzk.bak vorntavk.exe vorntav6.exe "

// Restore of the user's data; the count goes between the two halves of
// "成功恢复了%d个原有数据文件！" (wide texts have no printf here).
#define MSG_RESTORE_FAILED "原有数据文件没有成功复制，原有数据不能使用！\r\n"
// The administrator's log: the backup archive could not be copied into
// another installation directory (the restore reads it where it is).
#define LOG_RESTORE_NOT_COPIED "restore: %s could not be copied to %s (error %lu); restored from where it is"
#define MSG_RESTORED_HEAD_W WSZ("成功恢复了")
#define MSG_RESTORED_TAIL_W WSZ("个原有数据文件！")

// Placement.
#define MAKER_WEB_ADDRESS "www.vornhu.com.cn"
#define MSG_UNPACK_INCOMPLETE "文件解压不完整，请到智能砚舟网站" MAKER_WEB_ADDRESS "重新下载安装。"
#define MSG_COPY_FAILED_FMT "没有成功复制%s文件，请退出安装程序并手动删除该文件后重新安装！"
// The log: a stub or setupw64.exe whose version text was patched in place.
#define LOG_VERSION_PATCHED "file %s: version text made 7.7, %lu bytes"
#define LOG_EARLIER_RESTORED "earlier input method back in %s: the new one was not placed"
#define LOG_MEMBER_NOT_VERIFIED "payload member %s does not expand to the bytes its digest names; not placed"
#define LOG_LINK_REFUSED "file %s: a link to another file (a reparse point or a second name); left alone"
#define LOG_HELD_ASIDE "file %s: held by a running program; it goes at the next restart"
#define LOG_SWAP_KEPT_EARLIER "file %s: the new version could not take its place; the earlier one is back"
#define LOG_SWAP_EARLIER_ASIDE "file %s: neither version could take its place; the earlier one waits as %s for the next install"
#define LOG_SET_ASIDE_BACK "file %s: the earlier version is back from %s, where an interrupted install left it"
#define LOG_EARLIER_KEPT "earlier input method kept in %s: the new one did not unpack whole"
// The layout text the stubs and setupw64.exe carry, followed by "  6.3"/"  6.7".
#define VERSION_TEXT_W WSZ("智能砚舟输入平台")

// The payload resource and the digest and redirection functions.
#define PAYLOAD_RES_TYPE "VOZ"
#define PAYLOAD_RES_NAME "TAVKVOZ"
#define DLL_ADVAPI32 "advapi32.dll"
#define FMT_SYSTEM_DLL "%s\\%s"
#define DLL_KERNEL32 "kernel32.dll"
#define FN_MD5INIT "MD5Init"
#define FN_MD5UPDATE "MD5Update"
#define FN_MD5FINAL "MD5Final"
#define FN_WOW64DISABLE "Wow64DisableWow64FsRedirection"
#define FN_WOW64REVERT "Wow64RevertWow64FsRedirection"
#define FN_SET_SD_CONTROL "SetSecurityDescriptorControl"
#define DLL_WTSAPI32 "wtsapi32.dll"
#define FN_CONSOLE_SESSION "WTSGetActiveConsoleSessionId"
#define FN_PID_TO_SESSION "ProcessIdToSessionId"
#define FN_WTS_QUERY "WTSQuerySessionInformationA"
#define FN_WTS_FREE "WTSFreeMemory"
// A directory the setup makes for a program it starts: "vornsetup.<process
// id>.<tick count>.<attempt>".
#define FMT_PRIVATE_DIR "%s\\vornsetup.%lu.%lu.%d"
#define FMT_PRIVATE_DIRS "%s\\vornsetup.*"

// File names.
#define PHRASE_LIST_NAME "vorncyzk.bak"
#define PHRASE_TRAILER_TAG "VORN"
#define BACKUP_ARCHIVE_NAME "vornback.voz"
#define NAME_IME "vornhu4.ime"
#define NAME_IME32 "vornhu32.ime"
#define NAME_IME64 "vornhu64.ime"
#define NAME_STUB32 "vorn320.ime"
#define NAME_STUB32_BIG5 "vorn321.ime"
#define NAME_STUB64 "vorn640.ime"
#define NAME_STUB64_BIG5 "vorn641.ime"
#define NAME_UNINSTALLER "vorndel.exe"
#define NAME_UNINSTALLER64 "voqdel64.exe"
#define NAME_COMPANION "vorntavk.exe"
#define NAME_COMPANION6 "vorntav6.exe"
#define NAME_SETUPW64 "setupw64.exe"
#define NAME_PHRASES5 "vorncyzk.bak"
#define NAME_PHRASES5_DAT "vorncyzk.dat"
#define NAME_PHRASESPY "vornpyck.bak"
#define NAME_PHRASESPY_DAT "vornpyck.dat"

// Path formats: the installation directory ends in "\", the system and
// WOW64 directories do not.
#define FMT_IN_DIR "%s%s"
// Where a file's new bytes are written before they replace it.
#define FMT_SPARE "%s.new"
// Where a file Windows holds moves so that its new version can take its
// name (the input method's own spare names are formed from its name).
#define FMT_ASIDE_FIRST "%s.old"
#define FMT_ASIDE_SECOND "%s.old2"
#define FMT_SYSTEM_IME "%s\\vornhu4.ime"
#define FMT_SYSTEM_UNINSTALLER "%s\\vorndel.exe"
#define FMT_SYSTEM_COMPANION "%s\\vorntavk.exe"
// The per-user step: the 64-bit program's bytes under a name of its own.
#define FMT_SYSTEM_PERUSER "%s\\vornuser.exe"
#define LOG_PERUSER_NOT_PLACED "per-user program %s not placed: every user's logon gets no layout from it"
#define LOG_PERUSER_32BIT "per-user program: none on 32-bit Windows (the payload's program is 64-bit)"

// The skin step and its dialog.
#define MSG_PAYLOAD_NOT_COPIED "上述文件没有成功复制，请重新下载安装！\r\n"
#define MSG_SKIN_NOT_COPIED "皮肤文件没有成功复制，请重新安装皮肤文件！\r\n"
#define FMT_SKIN_COOL "%s冷色瓷面.voz"
#define FMT_SKIN_PINK "%s粉色瓷面.voz"
#define FMT_SKIN_ANGEL "%s小天使.voz"
// Dialog templates: simplified Chinese, and traditional for code page 950.
#define SKIN_DIALOG "PYKEY"
#define SKIN_DIALOG_BIG5 "PYKEYB"
