#include "terminal.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

bool Terminal::stderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

int Terminal::stderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}
