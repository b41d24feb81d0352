// Every text the setup window shows.
#pragma once

#include "platform/win32.h"

#define SETUP_WINDOW_CLASS "installWClass"
#define SETUP_WINDOW_CLASS_W WSZ("installWClass")
#define SETUP_ICON_NAME "vornhu"
#define TITLE_SETUP32_W WSZ("智能砚舟系统安装32")
#define TITLE_SETUP3264_W WSZ("智能砚舟系统安装3264")
#define TITLE_SETUP_BIG5_W WSZ("智能硯舟系統安裝")
