#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QProcess>

// A child process that ends with the process that started it, however that one ends
// (killed included): an orphan could go on writing files a later run uses.
class ChildProcess : public QProcess
{
    Q_OBJECT
public:
    explicit ChildProcess(QObject *parent = nullptr);
    ~ChildProcess() override;

    // Starts program as QProcess::start does, then ties it to this process.
    void startTied(const QString &program, const QStringList &arguments);

protected:
    void setupChildProcess() override;

private:
    qint64 parentId = 0;
    // On Windows the job object the child is assigned to; closed with this process.
    qintptr job = 0;
};

#endif
