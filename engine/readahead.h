#ifndef READAHEAD_H
#define READAHEAD_H

#include "readerlibrary.h"

#include <QList>
#include <QString>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// The library's answers for a list of installers, handed out in list order while up
// to jobs calls run at once on threads of its own. Calls run at most a bounded number
// of files ahead of the answer taken last, so waiting answers never pile up. With one
// job every call runs on the taking thread when its answer is taken, as a plain loop.
class ReadAhead
{
public:
    ReadAhead(const ReaderLibrary &library, const QList<QString> &paths, int jobs);
    // Starts no further call; when answers are left untaken, the running calls are
    // cancelled through the library (where it allows that) before they are waited for.
    ~ReadAhead();
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // The answer for the next path of the list; called at most once per path.
    ReaderLibrary::Result next();

private:
    void work();

    const ReaderLibrary &library;
    const QList<QString> paths;
    const int jobs;
    std::mutex mutex;
    std::condition_variable changed;
    int nextToStart = 0;
    int nextToTake = 0;
    bool ending = false;
    std::map<int, ReaderLibrary::Result> answers;
    std::vector<std::thread> threads;
};

#endif
