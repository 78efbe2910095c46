#include "cancellation.h"

#include <atomic>

namespace vantoril {

namespace {

std::atomic<unsigned> generation{0};

} // namespace

Cancellation::Cancellation()
    : started(generation.load(std::memory_order_acquire))
{
}

bool Cancellation::requested() const
{
    return generation.load(std::memory_order_acquire) != started;
}

void Cancellation::cancelRunningCalls()
{
    generation.fetch_add(1, std::memory_order_acq_rel);
}

} // namespace vantoril
