#include "consoleinterrupt.h"

#include <csignal>

ConsoleInterrupt::ConsoleEventAnswer ConsoleInterrupt::answerConsoleEvent(unsigned long event)
{
    // The event numbers of the Windows console: CTRL_C_EVENT 0, CTRL_BREAK_EVENT 1,
    // CTRL_CLOSE_EVENT 2, CTRL_LOGOFF_EVENT 5, CTRL_SHUTDOWN_EVENT 6.
    switch (event) {
    case 0:
        return {SIGINT, false};
    case 1:
        return {SIGTERM, false};
    case 2:
    case 5:
    case 6:
        return {SIGTERM, true};
    default:
        return {0, false};
    }
}
