#ifndef PROGRESSREPORT_H
#define PROGRESSREPORT_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;

// Everything pelbrook-export tells the user, on standard error. On a terminal the
// progress is one live bar (files done and total, bytes per second, the file being
// read); otherwise, for logs and pipes, one plain line per file.
class ProgressReport : public QObject
{
    Q_OBJECT
public:
    explicit ProgressReport(bool quiet, QObject *parent = nullptr);
    ~ProgressReport() override;

    // The extraction of total installers begins; first is the first one to be read.
    void extractionStarted(int total, const QString &first);
    // done installers are finished, the last one at path with its size; next is read now.
    void fileDone(int done, const QString &path, qint64 size, const QString &next);
    // The last installer is done and the workbook is being made.
    void writingWorkbook();
    // A line that is always shown (errors), placed clear of the bar.
    void message(const QString &text);
    // The closing summary; not shown when quiet.
    void summary(const QString &text);

    // Display columns of text on a terminal: wide (East Asian) characters take two.
    static int displayWidth(const QString &text);
    // text cut to at most columns display columns, keeping its end behind "...".
    static QString keepEnd(const QString &text, int columns);
    // What puts line (at most columns - 1 display columns) in place of the one the cursor
    // is on: escape codes where the terminal takes them, else spaces over the rest. An
    // empty line leaves the cursor at its start.
    static QString lineRewrite(const QString &line, bool escapes, int columns);

private:
    void drawBar();
    void clearBar();
    void write(const QString &text);

    bool quiet;
    bool onTerminal;
    bool escapes = false;
    bool barShown = false;
    int total = 0;
    int done = 0;
    qint64 bytesDone = 0;
    QString current;
    QElapsedTimer clock;
    QTimer *redraw = nullptr;
};

#endif
