#ifndef VANTORIL_CANCELLATION_H
#define VANTORIL_CANCELLATION_H

namespace vantoril {

// The stop request of one library call. The caller's stop entry point moves a
// process-wide generation on; a call notes the generation when it starts, so a
// request ends every call running at that moment and none started after it.
class Cancellation
{
public:
    Cancellation();

    bool requested() const;

    // Ends every call running now at its next read block.
    static void cancelRunningCalls();

private:
    unsigned started;
};

} // namespace vantoril

#endif
