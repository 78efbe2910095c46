#ifndef CRASHHANDLER_H
#define CRASHHANDLER_H

// Makes a crash in any thread leave "Pelbrook.dmp" in the current directory and the
// line "ApplicationCrashHandler" in the log before the process ends. The dump is always
// a new file: a taken name gets a numbered one, and on Linux a current directory that
// others may write sends it to the user's data folder, as on Windows does a current
// directory where no name can be created.
void installCrashHandler();

#endif
