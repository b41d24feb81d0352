// The user's language list, from Windows 8 (6.2) on.  There the layouts a
// user is offered are the input profiles of the languages in his list; a
// layout written only into "keyboard layout\preload" may not be shown, and
// may be dropped at the next logon.  input.dll's InstallLayoutOrTip adds a
// profile ("0804:E0200804": the input language, then the layout id) to the
// current user's list.  No import library declares it: the DLL is loaded by
// its full path in the system directory, never by a bare name that the
// search could take from the download folder of this elevated program.
//
// Windows 7 and earlier are left exactly as they were: nothing is loaded,
// called or logged there.  Where input.dll or the function is missing,
// nothing happens and the log says so: the install is then the one of
// Windows 7.  A call that fails is logged and noted for the silent install's
// exit code.  No message is shown.
#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "setup/log.h"

enum { kProfileChars = 24 };

void AddLayoutToUserProfiles(DWORD layoutId) {
    if (!IsWindows8OrLater()) return;
    if (!layoutId) {
        LogEvent(LOG_PROFILE_NO_LAYOUT);
        return;
    }
    // The profile's language is the one the layout was registered with (its
    // id's low word): Windows takes it from the input method's version
    // resource, whatever the system's code page.
    char narrow[kProfileChars];
    WCHAR profile[kProfileChars];
    snprintf(narrow, sizeof(narrow), FMT_INPUT_PROFILE, (unsigned)LOWORD(layoutId), (unsigned long)layoutId);
    for (size_t i = 0; i < sizeof(narrow); i++) {
        profile[i] = (WCHAR)(unsigned char)narrow[i];
        if (!narrow[i]) break;
    }

    char path[MAX_PATH];
    HMODULE input = LoadSystemLibrary(DLL_INPUT, path, sizeof(path));
    if (!input) {
        LogEvent(LOG_PROFILE_NO_DLL, narrow, path);
        return;
    }
    VORN_INSTALLLAYOUTORTIP install = ProcAs<VORN_INSTALLLAYOUTORTIP>(GetProcAddress(input, FN_INSTALL_LAYOUT_OR_TIP));
    if (!install) {
        LogEvent(LOG_PROFILE_NO_FUNCTION, narrow, path);
    } else {
        // No flags: this user, at once, and not as the default layout.
        BOOL added = install(profile, 0);
        if (added) {
            LogEvent(LOG_PROFILE_CALL, narrow);
        } else {
            LogEvent(LOG_PROFILE_FAILED, narrow, (unsigned long)GetLastError());
            NoteFailure();
        }
    }
    FreeLibrary(input);
}
