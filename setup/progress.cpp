#include "setup/progress.h"

#include "platform/win32.h"

ProgressSink g_progress;

void ReportPageRepaint(void) {
    if (g_progress.repaintPage) g_progress.repaintPage();
}

void ReportProgress(int done, int total) {
    if (g_progress.progress) g_progress.progress(done, total);
}

void PauseForScreen(unsigned long ms) {
    if (g_progress.repaintPage) Sleep((DWORD)ms);
}
