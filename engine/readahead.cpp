#include "readahead.h"

namespace {

// Answers allowed to wait for an earlier, longer file; each is a few KiB. Without
// such a margin one large file would leave the other threads idle until it is done.
const int waitingAnswers = 256;

} // namespace

ReadAhead::ReadAhead(const ReaderLibrary &library, const QList<QString> &paths, int jobs,
                     std::function<void(const QString &)> beginning)
    : library(library), paths(paths), jobs(qMax(1, jobs)), beginning(std::move(beginning))
{
    const int threadCount = qMin(this->jobs, paths.size());
    threads.reserve(size_t(threadCount));
    for (int i = 0; i < threadCount; ++i)
        threads.emplace_back([this] { work(); });
}

ReadAhead::~ReadAhead()
{
    bool running;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ending = true;
        running = nextToStart > nextToTake;
    }
    changed.notify_all();
    // Left early (a stop): calls begun after the stop's own cancel must not run to their end.
    if (running)
        library.cancel();
    for (std::thread &thread : threads)
        thread.join();
}

ReaderLibrary::Result ReadAhead::next()
{
    std::unique_lock<std::mutex> lock(mutex);
    const int index = nextToTake;
    if (index >= paths.size())
        return ReaderLibrary::Result();
    changed.wait(lock, [&] { return answers.count(index) > 0; });
    ReaderLibrary::Result result = std::move(answers[index]);
    answers.erase(index);
    ++nextToTake;
    lock.unlock();
    changed.notify_all();
    return result;
}

void ReadAhead::work()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [&] {
            return ending || nextToStart >= paths.size() || nextToStart < nextToTake + jobs + waitingAnswers;
        });
        if (ending || nextToStart >= paths.size())
            return;
        const int index = nextToStart++;
        lock.unlock();
        if (beginning)
            beginning(paths.at(index));
        ReaderLibrary::Result result = library.read(paths.at(index));
        lock.lock();
        answers.emplace(index, std::move(result));
        changed.notify_all();
    }
}
