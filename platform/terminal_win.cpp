#include "terminal.h"

#include <cstdio>

#include <windows.h>

namespace {

// The mode the console had before beginEscapes; 0 when it was not changed.
DWORD savedMode = 0;
// Consoles before Windows 8 refuse one write of more than about 26,000 characters.
const int chunkUnits = 8192;

// A console handle answers GetConsoleMode; a file, a pipe or the NUL device does not.
bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void write(DWORD which, std::FILE *stream, const QString &text)
{
    const HANDLE handle = GetStdHandle(which);
    if (!isConsole(handle)) {
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
        std::fflush(stream);
        return;
    }
    std::fflush(stream);
    const wchar_t *units = reinterpret_cast<const wchar_t *>(text.utf16());
    int left = text.size();
    while (left > 0) {
        int chunk = qMin(left, chunkUnits);
        // Never half of a character in one write.
        if (chunk < left && QChar::isHighSurrogate(ushort(units[chunk - 1])))
            --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(handle, units, DWORD(chunk), &written, nullptr) || written == 0)
            return;
        units += written;
        left -= int(written);
    }
}

} // namespace

bool Terminal::stderrIsTerminal()
{
    return isConsole(GetStdHandle(STD_ERROR_HANDLE));
}

int Terminal::stderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

bool Terminal::beginEscapes()
{
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!handle || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
        return true;
    // Refused by consoles before Windows 10 and by some others.
    if (!SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return false;
    savedMode = mode;
    return true;
}

void Terminal::endEscapes()
{
    if (savedMode == 0)
        return;
    SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), savedMode);
    savedMode = 0;
}

void Terminal::writeStderr(const QString &text)
{
    write(STD_ERROR_HANDLE, stderr, text);
}

void Terminal::writeStdout(const QString &text)
{
    write(STD_OUTPUT_HANDLE, stdout, text);
}
