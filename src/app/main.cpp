#include "log/Log.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    OpenLog(MakeLogFilePath().c_str());
    CloseLog();
    return 0;
}
