#ifndef TERMINAL_H
#define TERMINAL_H

// The console a program's standard error goes to.
class Terminal
{
public:
    // True when standard error is an interactive terminal, not a file or a pipe.
    static bool stderrIsTerminal();
    // Width of that terminal in characters; 80 when it cannot be told.
    static int stderrColumns();
};

#endif
