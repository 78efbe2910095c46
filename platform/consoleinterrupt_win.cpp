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
    if (!receiver)
        return FALSE;
    const int signalNumber = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    QMetaObject::invokeMethod(receiver, [signalNumber] { emit receiver->interrupted(signalNumber); },
                              Qt::QueuedConnection);
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
