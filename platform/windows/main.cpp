// The Windows process entry: the C runtime of a -municode GUI program calls
// wWinMain, which hands over to the system's entry in app/entry.cpp.
#include "platform/platform.h"

// <windows.h> declares the ANSI WinMain with C linkage, which clashes with the
// system's C++ entry of the same name; its declaration is renamed out of the way.
#define WinMain WindowsHeaderWinMain
#include <windows.h>
#undef WinMain

#include "app/entry.h"

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, PWSTR commandLine, int showCommand) {
    return WinMain(reinterpret_cast<win::HINSTANCE>(instance), reinterpret_cast<win::HINSTANCE>(previousInstance),
                   reinterpret_cast<win::LPWSTR>(commandLine), showCommand);
}
