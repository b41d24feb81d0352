// How the install steps reach the screen while they run inside one click of
// the setup window: two callbacks that the window fills in and the silent
// install leaves empty.  The steps never include the window itself.
#pragma once

struct ProgressSink {
    void (*repaintPage)(void);             // redraw the page on screen now
    void (*progress)(int done, int total); // draw the progress bar
};

extern ProgressSink g_progress;

// Forward to the sink; nothing when no window listens.
void ReportPageRepaint(void);
void ReportProgress(int done, int total);
// The pause that lets a repainted page be seen; none when no window listens
// (the silent install would only wait).
void PauseForScreen(unsigned long ms);
