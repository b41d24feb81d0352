// Every text the setup window shows.  Page texts are wide, so that they read
// the same on simplified (936) and traditional (950) Chinese systems.
#pragma once

#include "platform/win32.h"

#define SETUP_WINDOW_CLASS "installWClass"
#define SETUP_WINDOW_CLASS_W WSZ("installWClass")
#define SETUP_ICON_NAME "vornhu"
#define EDIT_CLASS "EDIT"
#define FIELD_INITIAL_TEXT " "

// Titles.
#define TITLE_SETUP32_W WSZ("智能砚舟系统安装32")
#define TITLE_SETUP3264_W WSZ("智能砚舟系统安装3264")
#define TITLE_SETUP_BIG5_W WSZ("智能硯舟系統安裝")
#define TITLE_BOX_W WSZ("智能砚舟")

// Fonts, asked for by their wide names: the GBK bytes would name other
// faces on a Big5 system.
#define FONT_HEADING_FACE_W WSZ("楷体")
#define FONT_BODY_FACE_W WSZ("宋体")

// Buttons.
#define BUTTON_INSTALL_W WSZ("确 定 安 装")
#define BUTTON_QUIT_W WSZ("放 弃 退 出")
#define BUTTON_EXIT_W WSZ("确 定 退 出")

// Welcome page.
#define WELCOME_LOADING_W WSZ("安装程序正在载入文件，请等待……")
#define WELCOME_LINE1_W WSZ("您尝试过砚舟语句提示输入吗？")
#define WELCOME_LINE2_W WSZ("砚舟语句将给你带来新的输入体验……")
#define WELCOME_VERSION_W WSZ("7.7 版")
#define SPLASH_MEMBER "tavk1.bmp"

// Options page.
#define OPTIONS_TITLE_W WSZ("智能砚舟输入平台  系统安装")
#define OPTIONS_EDITION_W WSZ("砚舟五笔专版")
#define OPTIONS_LINE1_W WSZ("请输入你所在单位网站或你所在地政府网站的网址，")
#define OPTIONS_LINE2_W WSZ("智能砚舟就可每天自动从所输入网站上下载相关文章，")
#define OPTIONS_LINE3_W WSZ("组建或增加系统文章库，以方便你的快速输入。")
#define OPTIONS_FIELD_LABEL_W WSZ("所在单位网址：")

// Install-path page.
#define PATH_HEADING_W WSZ("智能砚舟输入平台")
#define PATH_SUBHEADING_W WSZ("砚舟五笔 7.7 版  系统安装")
#define PATH_LINE1_W WSZ("本版本适用于：WINDOWS NT、WIN2000、")
#define PATH_LINE2_W WSZ("WINDOWS XP、VISTA及WIN7中文系统。")
#define PATH_LABEL_W WSZ("安装路径：")  // followed by the installation directory

// Progress page.
#define PROGRESS_HEADING_W WSZ("智能砚舟7.7版安装")
#define PROGRESS_LINE_W WSZ("智能砚舟正在处理有关数据……")

// Last page.
#define LAST_HEADING_W WSZ("欢迎使用砚舟系统")
#define LAST_GLOW_W WSZ("欢迎使用砚舟输入系统")
#define LAST_LINE1_W WSZ("智能砚舟已经安装在你的系统中!")
#define LAST_LINE2_W WSZ("请在下面的框中试着用砚舟系统输入你的姓名。")
#define LAST_NAME_LABEL_W WSZ("请输入你的姓名：")

// End of the run.
#define MSG_DONE_RESTART_NOW_W WSZ("安装完毕，请立即重新启动计算机！")
#define MSG_DONE_W WSZ("安装完毕，如不能使用，请重新启动计算机！")
#define MSG_IME_DATA_IN_MEMORY_W WSZ("检测到内存中有智能砚舟数据没有退出，请安装后重新启动机器再使用！")
