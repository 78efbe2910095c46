#ifndef VANTORIL_SIGNATURECACHE_H
#define VANTORIL_SIGNATURECACHE_H

#include "authenticode.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vantoril {

class Anchors;

// What parsing one signature gave: the signature, or why it was refused.
struct ParsedSignature
{
    bool parsed = false;
    Signature signature;
    std::string error;
};

// Parses of signatures by their exact bytes. Installers of one maker, and copies of one
// installer, carry the same signature, whose decoding and chain checks cost far more
// than reading a small file. An entry holds only within the times it was made for
// (between the validity boundaries of every certificate that could have changed the
// verdict) and for a short while at most, so trust decided at "now" is decided again
// when it could come out otherwise. Bounded in entries and bytes; any thread may call.
class SignatureCache
{
public:
    // The verdicts made against Anchors::shared(), kept for the process.
    static SignatureCache &shared();

    // The times an entry holds: from <= now < until.
    using Window = ParseWindow;

    bool find(const std::uint8_t *data, std::size_t size, std::time_t now, ParsedSignature &parse) const;
    void store(const std::uint8_t *data, std::size_t size, const ParsedSignature &parse, Window window);

    // Longest an entry is kept: certificates that the system's store gains meanwhile count again after it.
    static constexpr std::time_t lifetime = 60;

private:
    struct Entry
    {
        ParsedSignature parse;
        Window window;
    };

    mutable std::mutex mutex;
    std::unordered_map<std::string, Entry> entries;
    // Keys oldest first; the oldest go when a bound is reached.
    std::deque<std::string> order;
    std::size_t keyBytes = 0;
};

// parseSignatureAt through the cache: signatures already judged against the anchors are
// taken from signatures, and new verdicts go there.
bool parseSignature(const std::uint8_t *data, std::size_t size, const Anchors &anchors, SignatureCache &signatures,
                    Signature &signature, std::string &error);

} // namespace vantoril

#endif
