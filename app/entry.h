// The process entry and the list mode.
#pragma once

#include "platform/platform.h"

// The executable's own module; every resource lookup names it.
extern win::HINSTANCE InstanceHandle;

// The GUI entry. Only the module handle is used; the command line is read again
// by the option parser. Always returns 0.
int WinMain(win::HINSTANCE instance, win::HINSTANCE previousInstance, win::LPWSTR commandLine,
            int showCommand);

// Shows the patch's target list in one box captioned "List of Products".
void ShowTargetList();
