// Every text of the user-data and configuration files subsystem.
#pragma once

#include "platform/win32.h"
#include "payload/texts.h"

// Configuration files in the installation directory.
#define FILE_EDITION_MARKER "wbpybz.voh"
// Written with its terminating zero: 11 bytes.
#define EDITION_MARKER "VOWBPYBZ=0"
#define FILE_NET_SETTINGS "vonetsj.dat"
#define FMT_NET_SETTINGS                                                                                   \
    "VONETURL1=\r\n"                                                                                       \
    "VONETURL2=%s\r\n"                                                                                     \
    "VONETTIME=1\r\n"                                                                                      \
    "VOBJTIME=7\r\n"                                                                                       \
    "VOWYTIME=3\r\n"                                                                                       \
    "VOSJOFF=0\r\n"                                                                                        \
    "VONETTIME0=0\r\n"                                                                                     \
    "VOBJTIME0=0\r\n"                                                                                      \
    "VONEONE=1\r\n"
#define NET_KEY_URL1 "VONETURL1="
#define NET_KEY_URL2 "VONETURL2="
#define FILE_SETTINGS_RECORD "voszsj43.voh"
#define FILE_INSTALL_STAMP "install.voh"
#define FMT_INSTALL_FILE "%s%s"

// The backup archive ("vornback.voz") is written under this name until it
// is complete.
#define BACKUP_ARCHIVE_SPARE "vornback.new"
// Beside the archive while it may be the only copy of the user's files: the
// digests of the bytes the setup writes into their names, one
// "<name> <digest>" line each.
#define BACKUP_WAITING "vornback.sum"
#define FMT_WAITING_LINE "%s %.32s\r\n"

// The administrator's log on the backup: files it could not take.
#define LOG_BACKUP_NOT_COPIED "backup: %s could not be copied to %s (error %lu); the older copy is packed if there is one"
#define LOG_BACKUP_NOT_PACKED "backup: %s is there but could not be packed (error %lu); left out"
#define LOG_BACKUP_EARLIER_KEPT "backup: not every file that is there went in; %s stays as it was"
#define LOG_BACKUP_WAITING "backup: %s waits to be restored; the files that hold what the setup wrote are taken from it"
#define LOG_BACKUP_NOT_TAKEN "backup: %s could not be taken from the waiting archive (error %lu)"
#define LOG_BACKUP_UNSAVED "backup: %s could not be written (error %lu); the user's files stay as they are"
#define LOG_BACKUP_DONE_WAITING "backup: %s no longer waits to be restored"
#define LOG_USER_FILES_KEPT "unpack: the user's files stay as they are (the backup does not hold them): %s"

// The keep question after the payload is unpacked.
#define TITLE_SETUP_W WSZ("智能砚舟安装")
#define MSG_KEEP_SAME_DIR_W WSZ("检测到安装目录下有智能砚舟以前的词组等数据文件，是否保留？")
#define MSG_KEEP_OTHER_DIR_W WSZ("检测到有智能砚舟以前的词组等数据文件，是否保留？")

// The install report.  The maker's address and the file names are those of
// payload/texts.h.
#define SURVEY_PATTERN "*.*"
#define EXT_TEXT ".txt"
#define EXT_RECORD ".voh"
#define NAME_PHRASES5_VOH "vorncyzk.voh"
#define NAME_PHRASESPY_VOH "vornpyck.voh"
#define REPORT_HEAD "智能砚舟汉字输入系统7.7版安装情况报告。\r\n\r\n安装出现错误！错误为："
#define REPORT_ADVICE "\r\n\r\n请到主页" MAKER_WEB_ADDRESS "重新下载安装！并解除杀毒软件对安装过程的拦截！\r\n\r\n"
#define CODE_PATH_FMT "path--%s--%d;"
#define CODE_FILES_FMT "F--%d;"
#define CODE_FIVEPEN_FMT "FR1--%x;"
#define CODE_PINYIN_FMT "FR2--%x;"
#define CODE_IME_FMT "FR3--%x;"
#define MSG_NO_INSTALL_PATH "检测不到安装路径！"
#define MSG_FILES_INCOMPLETE "文件不完整！"
#define MSG_NO_FIVEPEN_DICT "无五笔词库文件！"
#define MSG_NO_PINYIN_DICT "无拼音词库文件！"
#define MSG_IME_MISSING "缺少文件！"
