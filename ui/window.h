// The setup window of the interactive mode.
#pragma once

#include "platform/win32.h"

ATOM RegisterSetupWindowClass(HINSTANCE instance);
int CreateSetupWindow(HINSTANCE instance, int showCommand);
int RunMessageLoop(void);

// Direct painting while the install runs inside one click; nothing without a window.
void ShowProgress(int done, int total);
void PaintInstallPathPageNow(void);
