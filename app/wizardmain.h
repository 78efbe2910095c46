#ifndef WIZARDMAIN_H
#define WIZARDMAIN_H

// The wizard from start to end: the log and crash handlers, one copy per user, the
// window, and the workers wound down before the process ends. Returns the exit code.
// The program's main only calls this, so that the test drivers run the same start-up.
int wizardMain(int &argc, char *argv[]);

#endif
