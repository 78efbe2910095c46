#ifndef CRASHHANDLER_H
#define CRASHHANDLER_H

// Makes a crash in any thread leave "Pelbrook.dmp" in the current directory and the
// line "ApplicationCrashHandler" in the log before the process ends.
void installCrashHandler();

#endif
