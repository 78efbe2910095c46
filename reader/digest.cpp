#include "digest.h"

#include "reader.h"

#include <algorithm>
#include <memory>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <system_error>
#include <thread>

namespace vantoril {

namespace {

// Large enough to keep the disk streaming, small enough to keep memory flat.
constexpr std::size_t blockSize = 1 << 20;
// Below this a second thread costs more than it saves.
constexpr std::uint64_t parallelThreshold = 4 * blockSize;
constexpr std::size_t ringSize = 4;

struct Span
{
    Digest *digest = nullptr;
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
};

// Feeds the other digests on a second thread while the caller computes the first
// whole-file digest: a signed file then costs about as long as its slower digest
// instead of all in turn. Jobs run in order; each names spans of a buffer the
// caller must keep until finished() reaches the job's number.
class RangedHasher
{
public:
    RangedHasher()
        : worker([this] { run(); })
    {
    }

    // Drains the queue first: the caller's buffers outlive this object.
    ~RangedHasher()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        worker.join();
    }

    // Returns the job's number.
    std::uint64_t post(std::vector<Span> spans)
    {
        std::uint64_t number = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(std::move(spans));
            number = ++posted;
        }
        changed.notify_all();
        return number;
    }

    void waitFor(std::uint64_t job)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this, job] { return finished >= job; });
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !queue.empty() || stopping; });
            if (queue.empty())
                break;
            const std::vector<Span> spans = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            for (const Span &span : spans)
                span.digest->update(span.data, span.size);
            lock.lock();
            ++finished;
            changed.notify_all();
        }
        lock.unlock();
        // The crypto library keeps per-thread state; this thread is ours to clean.
        OPENSSL_thread_stop();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<Span>> queue;
    std::uint64_t posted = 0;
    std::uint64_t finished = 0;
    bool stopping = false;
    // Last, so that it starts once the members above exist.
    std::thread worker;
};

} // namespace

Digest::Digest(const EVP_MD *type)
{
    if (!type)
        return;
    context = EVP_MD_CTX_new();
    if (context && EVP_DigestInit_ex(context, type, nullptr) != 1) {
        EVP_MD_CTX_free(context);
        context = nullptr;
    }
}

Digest::~Digest()
{
    EVP_MD_CTX_free(context);
}

void Digest::update(const void *data, std::size_t size)
{
    if (context && size > 0 && EVP_DigestUpdate(context, data, size) != 1)
        failed = true;
}

std::vector<std::uint8_t> Digest::finish()
{
    std::vector<std::uint8_t> result(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (!context || failed || EVP_DigestFinal_ex(context, result.data(), &size) != 1)
        return {};
    result.resize(size);
    return result;
}

bool digestInput(const Reader &reader, Digest &wholeFile, Digest *ranged,
                 const std::vector<Range> &ranges)
{
    return digestInput(reader, {&wholeFile}, ranged ? std::vector<Digest *>{ranged} : std::vector<Digest *>(), ranges);
}

bool digestInput(const Reader &reader, const std::vector<Digest *> &wholeFile, const std::vector<Digest *> &ranged,
                 const std::vector<Range> &ranges)
{
    Digest *first = wholeFile.empty() ? nullptr : wholeFile.front();
    const bool others = wholeFile.size() > 1 || !ranged.empty();
    const bool parallel = others && reader.size() >= parallelThreshold;
    const auto blockBytes = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, reader.size()));
    // A few blocks in flight let either thread run ahead when the other is descheduled.
    std::vector<std::vector<std::uint8_t>> ring(parallel ? ringSize : 1, std::vector<std::uint8_t>(blockBytes));
    std::vector<std::uint64_t> lastJob(ring.size(), 0);
    // Declared after the ring, so that it drains before the buffers go.
    std::unique_ptr<RangedHasher> hasher;
    if (parallel) {
        try {
            hasher = std::make_unique<RangedHasher>();
        } catch (const std::system_error &) {
            // No thread to spare: all digests run here, one after the other.
        }
    }
    std::vector<Span> spans;
    std::size_t next = 0;
    std::size_t slot = 0;
    for (std::uint64_t offset = 0; offset < reader.size(); slot = (slot + 1) % ring.size()) {
        std::vector<std::uint8_t> &block = ring[slot];
        if (hasher)
            hasher->waitFor(lastJob[slot]);
        const auto len = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), reader.size() - offset));
        if (!reader.read(offset, block.data(), len))
            return false;
        const std::uint64_t blockEnd = offset + len;
        spans.clear();
        for (std::size_t i = 1; i < wholeFile.size(); ++i)
            spans.push_back({wholeFile[i], block.data(), len});
        while (!ranged.empty() && next < ranges.size() && ranges[next].begin < blockEnd) {
            const std::uint64_t from = std::max(ranges[next].begin, offset);
            const std::uint64_t to = std::min(ranges[next].end, blockEnd);
            if (from < to)
                for (Digest *digest : ranged)
                    spans.push_back({digest, block.data() + (from - offset), static_cast<std::size_t>(to - from)});
            if (ranges[next].end > blockEnd)
                break;
            ++next;
        }
        if (hasher && !spans.empty())
            lastJob[slot] = hasher->post(spans);
        else
            for (const Span &span : spans)
                span.digest->update(span.data, span.size);
        if (first)
            first->update(block.data(), len);
        offset = blockEnd;
    }
    return true;
}

} // namespace vantoril
