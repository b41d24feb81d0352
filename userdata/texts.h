// Every text of the user-data and configuration files subsystem.
#pragma once

#include "platform/win32.h"

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
#define FMT_INSTALL_FILE "%s%s"

// The keep question after the payload is unpacked.
#define TITLE_SETUP_W WSZ("智能砚舟安装")
#define MSG_KEEP_SAME_DIR_W WSZ("检测到安装目录下有智能砚舟以前的词组等数据文件，是否保留？")
#define MSG_KEEP_OTHER_DIR_W WSZ("检测到有智能砚舟以前的词组等数据文件，是否保留？")
