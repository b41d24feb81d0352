// The program's version, in one place: the version resource of every
// executable (res/version.rc), the log's start line and the help read it.
// Raise VORN_VERSION_BUILD for every build given out.  Plain preprocessor
// text only: the resource compiler reads this file too.
#pragma once

#define VORN_VERSION_MAJOR 7
#define VORN_VERSION_MINOR 7
#define VORN_VERSION_BUILD 1
#define VORN_VERSION_REVISION 0

#define VORN_VERSION_STR2(n) #n
#define VORN_VERSION_STR(n) VORN_VERSION_STR2(n)
// "7.7": what the help and the log name.
#define VORN_VERSION_SHORT VORN_VERSION_STR(VORN_VERSION_MAJOR) "." VORN_VERSION_STR(VORN_VERSION_MINOR)
// "7.7.1.0": FileVersion and ProductVersion.
#define VORN_VERSION_FULL                                                                 \
    VORN_VERSION_SHORT "." VORN_VERSION_STR(VORN_VERSION_BUILD) "." VORN_VERSION_STR( \
        VORN_VERSION_REVISION)
