#include "consoleinterrupt.h"

#include <QMetaObject>

#include <csignal>
#include <cstdlib>

#include <windows.h>

namespace {

ConsoleInterrupt *receiver = nullptr;

// Runs on a thread of the system's; the signal is queued to the receiver's thread.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const ConsoleInterrupt::ConsoleEventAnswer answer = ConsoleInterrupt::answerConsoleEvent(event);
    if (!receiver || answer.signalNumber == 0)
        return FALSE;
    const int signalNumber = answer.signalNumber;
    QMetaObject::invokeMethod(receiver, [signalNumber] { emit receiver->interrupted(signalNumber); },
                              Qt::QueuedConnection);
    // Returning from a closed console ends the process at once, before the export has
    // removed its temporary files; it stops within about a second as after Ctrl-C and
    // ends the process itself. Should it not, the system ends it after its own limit
    // (five seconds for a closed console).
    if (answer.holdUntilEnded)
        Sleep(INFINITE);
    return TRUE;
}

} // namespace

ConsoleInterrupt::ConsoleInterrupt(QObject *parent)
    : QObject(parent)
{
    receiver = this;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

ConsoleInterrupt::~ConsoleInterrupt()
{
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    receiver = nullptr;
}

void ConsoleInterrupt::endProcess(int signalNumber)
{
    std::_Exit(signalNumber == SIGINT ? STATUS_CONTROL_C_EXIT : 1);
}
