#include "terminal.h"

#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

void writeUtf8(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

bool Terminal::stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int Terminal::stderrColumns()
{
    struct winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

bool Terminal::beginEscapes()
{
    return true;
}

void Terminal::endEscapes()
{
}

void Terminal::writeStderr(const QString &text)
{
    writeUtf8(stderr, text);
}

void Terminal::writeStdout(const QString &text)
{
    writeUtf8(stdout, text);
}
