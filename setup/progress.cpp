#include "setup/progress.h"

ProgressSink g_progress;

void ReportPageRepaint(void) {
    if (g_progress.repaintPage) g_progress.repaintPage();
}

void ReportProgress(int done, int total) {
    if (g_progress.progress) g_progress.progress(done, total);
}
