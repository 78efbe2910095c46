#ifndef TERMINAL_H
#define TERMINAL_H

#include <QString>

// The console a program's standard error goes to.
class Terminal
{
public:
    // True when standard error is an interactive terminal, not a file or a pipe.
    static bool stderrIsTerminal();
    // Width of that terminal in characters; 80 when it cannot be told.
    static int stderrColumns();
    // Lets the terminal on standard error take the escape codes that clear a line, where
    // it can be asked to (a Windows console since Windows 10); false where it does not
    // take them. endEscapes() puts the console back as it was.
    static bool beginEscapes();
    static void endEscapes();

    // Text for standard error and standard output. A Windows console is given it as wide
    // characters, which it shows whatever its code page; everything else (a file, a pipe,
    // any terminal elsewhere) gets UTF-8.
    static void writeStderr(const QString &text);
    static void writeStdout(const QString &text);
};

#endif
