// The Windows entry point (only in the MinGW builds).
#include "setup/context.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    return SetupMain(instance, commandLine, showCommand);
}
