#include "app/StartUp.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunLumetUpdate(::GetCommandLineW()); }
