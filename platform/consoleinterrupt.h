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

    // Ends the process the way the interrupt would have ended it without this object,
    // so that a calling shell sees the interrupt (and stops a loop, for instance).
    [[noreturn]] static void endProcess(int signalNumber);

signals:
    void interrupted(int signalNumber);

private:
    QSocketNotifier *notifier = nullptr;
};

#endif
