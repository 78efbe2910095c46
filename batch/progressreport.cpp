#include "progressreport.h"

#include "platform.h"
#include "terminal.h"

#include <QDir>
#include <QTimer>

namespace {

// Often enough for a rate that moves while a large file is read, rarely enough to cost nothing.
const int redrawMs = 250;
const int barCells = 20;

bool isWide(uint code)
{
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF && code != 0x303F)
        || (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) || (code >= 0xFE30 && code <= 0xFE4F)
        || (code >= 0xFF00 && code <= 0xFF60) || (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
}

QString rateText(double bytesPerSecond)
{
    const double mib = bytesPerSecond / (1024.0 * 1024.0);
    return QStringLiteral("%1 MB/s").arg(mib, 0, 'f', 1);
}

} // namespace

ProgressReport::ProgressReport(bool quiet, QObject *parent)
    : QObject(parent), quiet(quiet), onTerminal(Terminal::stderrIsTerminal())
{
    clock.start();
    if (onTerminal && !quiet) {
        escapes = Terminal::beginEscapes();
        redraw = new QTimer(this);
        redraw->setInterval(redrawMs);
        connect(redraw, &QTimer::timeout, this, &ProgressReport::drawBar);
    }
}

ProgressReport::~ProgressReport()
{
    if (redraw)
        Terminal::endEscapes();
}

void ProgressReport::extractionStarted(int total, const QString &first)
{
    this->total = total;
    current = first;
    clock.restart();
    if (redraw) {
        drawBar();
        redraw->start();
    }
}

void ProgressReport::fileDone(int done, const QString &path, qint64 size, const QString &next)
{
    this->done = done;
    bytesDone += size;
    current = next;
    if (quiet || (onTerminal && next.isEmpty()))
        return;
    if (onTerminal)
        drawBar();
    else
        write(QStringLiteral("[%1/%2] %3\n").arg(done).arg(total).arg(QDir::toNativeSeparators(Platform::escapedFileName(path))));
}

void ProgressReport::writingWorkbook()
{
    current = QStringLiteral("正在写出表格");
    if (onTerminal && !quiet)
        drawBar();
}

void ProgressReport::message(const QString &text)
{
    if (redraw)
        redraw->stop();
    clearBar();
    write(text + QLatin1Char('\n'));
}

void ProgressReport::summary(const QString &text)
{
    if (redraw)
        redraw->stop();
    if (quiet)
        return;
    clearBar();
    write(text + QLatin1Char('\n'));
}

int ProgressReport::displayWidth(const QString &text)
{
    int width = 0;
    for (const uint code : text.toUcs4())
        width += isWide(code) ? 2 : 1;
    return width;
}

QString ProgressReport::keepEnd(const QString &text, int columns)
{
    if (displayWidth(text) <= columns)
        return text;
    const QLatin1String ellipsis("...");
    const QVector<uint> codes = text.toUcs4();
    int width = ellipsis.size();
    int start = codes.size();
    while (start > 0) {
        const int next = isWide(codes.at(start - 1)) ? 2 : 1;
        if (width + next > columns)
            break;
        width += next;
        --start;
    }
    return ellipsis + QString::fromUcs4(codes.constData() + start, codes.size() - start);
}

QString ProgressReport::lineRewrite(const QString &line, bool escapes, int columns)
{
    if (escapes)
        return QStringLiteral("\r\x1b[K") + line;
    // A console that shows escape codes as text: spaces cover what the last line left,
    // up to the column before the edge, where a full line would wrap.
    const QString cover(qMax(0, columns - 1 - displayWidth(line)), QLatin1Char(' '));
    return QLatin1Char('\r') + line + cover + (line.isEmpty() ? QStringLiteral("\r") : QString());
}

void ProgressReport::drawBar()
{
    const int filled = total > 0 ? int(qint64(barCells) * done / total) : 0;
    const double seconds = clock.elapsed() / 1000.0;
    const QString head = QStringLiteral("[%1%2] %3/%4 %5 ")
                             .arg(QString(filled, QLatin1Char('#')), QString(barCells - filled, QLatin1Char('.')))
                             .arg(done)
                             .arg(total)
                             .arg(rateText(seconds > 0 ? bytesDone / seconds : 0));
    // One column short of the width: a full line would wrap on some terminals.
    const int room = Terminal::stderrColumns() - 1 - displayWidth(head);
    const QString tail = room > 3 ? keepEnd(QDir::toNativeSeparators(Platform::escapedFileName(current)), room) : QString();
    write(lineRewrite(head + tail, escapes, Terminal::stderrColumns()));
    barShown = true;
}

void ProgressReport::clearBar()
{
    if (!barShown)
        return;
    write(lineRewrite(QString(), escapes, Terminal::stderrColumns()));
    barShown = false;
}

void ProgressReport::write(const QString &text)
{
    Terminal::writeStderr(text);
}
