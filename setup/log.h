// The administrator's log: one UTF-8 line per event, appended to a file the
// command line names.  Below the install steps and beside the install
// context: it knows nothing of the window or of the steps.
#pragma once

#include "platform/win32.h"

// Starts logging to `path` (ANSI code page, best a full path); false, and no
// log, when the path is empty or longer than MAX_PATH.
bool LogOpen(LPCSTR path);
// Stops logging (the window's run; tests between cases).
void LogClose(void);
bool LogEnabled(void);
// The file being logged to; "" when none.
LPCSTR LogPath(void);
// Milliseconds since LogOpen.
DWORD LogElapsed(void);

// Appends one line: local time, process id, then the text formatted from
// `format` (printf-style; narrow texts are ours, in GBK, on every system).  Line breaks
// in the text become " / ".  Nothing happens when no log is open; a log that
// cannot be written is skipped.  Neither changes GetLastError.
void LogEvent(LPCSTR format, ...);
// The same for UTF-16 texts: `format` is narrow and each of its (at most
// two) "%s" takes `a`, then `b`, unchanged.
void LogEventW(LPCSTR format, LPCWSTR a, LPCWSTR b = NULL);
// The same for texts of the system's ANSI code page (the command line, a
// directory the user gave).
void LogEventAnsi(LPCSTR format, LPCSTR a, LPCSTR b = NULL);
// "name -> target, N bytes": a file placed; the bytes are those of `source`
// (the file copied, or the target itself).
void LogFilePlaced(LPCSTR name, LPCSTR target, LPCSTR source);
// "name -> target, N bytes" for a file written from memory.
void LogFileWritten(LPCSTR name, LPCSTR target, DWORD cbWritten);
// A registry key about to be written ("HKLM", its parent's path, its name),
// then its values.
void LogRegistryKey(LPCSTR root, LPCSTR parent, LPCSTR name);
void LogRegistryKeyW(LPCSTR root, LPCWSTR parent, LPCWSTR name);
void LogRegistryValue(LPCSTR name, LPCSTR text);
void LogRegistryValueW(LPCWSTR name, LPCWSTR text);
// A process started with WinExec and what WinExec answered.
void LogProcessStarted(LPCSTR command, UINT result);
