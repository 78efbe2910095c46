#ifndef CONSOLEINTERRUPT_H
#define CONSOLEINTERRUPT_H

#include <QObject>

class QSocketNotifier;

// Turns the console's interrupt (Ctrl-C) and a request to terminate into a Qt signal
// delivered on the thread that created this object, so a console program can stop its
// work and clean up before it ends. One instance per process.
class ConsoleInterrupt : public QObject
{
    Q_OBJECT
public:
    explicit ConsoleInterrupt(QObject *parent = nullptr);
    ~ConsoleInterrupt() override;

    // How a Windows console event (CTRL_C_EVENT and the others, by number) is answered:
    // the signal it is reported as, 0 for one left to the system; and whether the
    // system's thread must be held until the process has cleaned up and ended, since the
    // system ends the process as soon as the handler returns from a close, log-off or
    // shut-down.
    struct ConsoleEventAnswer
    {
        int signalNumber;
        bool holdUntilEnded;
    };
    static ConsoleEventAnswer answerConsoleEvent(unsigned long event);

    // Ends the process the way the interrupt would have ended it without this object,
    // so that a calling shell sees the interrupt (and stops a loop, for instance).
    [[noreturn]] static void endProcess(int signalNumber);

signals:
    void interrupted(int signalNumber);

private:
    QSocketNotifier *notifier = nullptr;
};

#endif
