#ifndef READAHEAD_H
#define READAHEAD_H

#include "readerlibrary.h"

#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// The library's answers for a list of installers, handed out in list order while up
// to jobs calls run at once on threads of its own. Calls run at most a bounded number
// of files ahead of the answer taken last, so waiting answers never pile up. One job
// still reads on a thread of its own, one file after another: the taking thread may
// then wait for its receiver (the wizard waits for its window after every file) while
// the next files are read.
class ReadAhead
{
public:
    // beginning is called on the reading thread just before each call: only there can
    // a log line say which file a crashing or hanging call was reading.
    ReadAhead(const ReaderLibrary &library, const QList<QString> &paths, int jobs,
              std::function<void(const QString &)> beginning = nullptr);
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
    const std::function<void(const QString &)> beginning;
    std::mutex mutex;
    std::condition_variable changed;
    int nextToStart = 0;
    int nextToTake = 0;
    bool ending = false;
    std::map<int, ReaderLibrary::Result> answers;
    std::vector<std::thread> threads;
};

#endif
