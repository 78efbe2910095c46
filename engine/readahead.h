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
// job a call runs on the taking thread when its answer is taken, as a plain loop, unless
// the taker has begun it early with startNext: then one call runs beside the taker.
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

    // With one job: the path whose call startNext would begin, or empty where none
    // would (a call already running, the list taken, or many jobs reading ahead anyway).
    QString upcoming();
    // With one job: begins the call of upcoming() on a thread of its own, so that it runs
    // while the taker does other work (the wizard's worker waits for the window).
    void startNext();

private:
    void work();
    bool mayStart() const;

    const ReaderLibrary &library;
    const QList<QString> paths;
    const int jobs;
    std::mutex mutex;
    std::condition_variable changed;
    int nextToStart = 0;
    int nextToTake = 0;
    // With one job: calls below this index may begin on the thread.
    int startsAllowed = 0;
    bool ending = false;
    std::map<int, ReaderLibrary::Result> answers;
    std::vector<std::thread> threads;
};

#endif
