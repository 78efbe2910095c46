#include "signaturecache.h"

#include <limits>

namespace vantoril {

namespace {

// A few hundred distinct signatures cover a large folder of one maker's installers;
// a signature blob is some KiB, so the keys stay within a few MiB.
constexpr std::size_t entryLimit = 256;
constexpr std::size_t keyBytesLimit = 4 << 20;
constexpr std::size_t keyLimit = 256 << 10;

} // namespace

SignatureCache &SignatureCache::shared()
{
    // Never destroyed, like the anchors it goes with: reads may still run at exit.
    static SignatureCache *const instance = new SignatureCache;
    return *instance;
}

bool parseSignature(const std::uint8_t *data, std::size_t size, const Anchors &anchors, SignatureCache &signatures,
                    Signature &signature, std::string &error)
{
    const std::time_t now = std::time(nullptr);
    ParsedSignature parse;
    if (signatures.find(data, size, now, parse)) {
        if (parse.parsed)
            signature = parse.signature;
        else
            error = parse.error;
        return parse.parsed;
    }
    // A refusal depends on the bytes alone, so it holds as long as the entry lives.
    SignatureCache::Window window{std::numeric_limits<std::time_t>::min(), now + SignatureCache::lifetime};
    parse.parsed = parseSignatureAt(data, size, anchors, now, parse.signature, parse.error, window);
    // The chain check read the clock itself, a moment later: if a boundary fell in
    // between, the verdict may belong to either side of it.
    const std::time_t after = std::time(nullptr);
    const bool transient = parse.error == "out of memory"
        || (parse.parsed && parse.signature.trust.reason == "cannot set up the chain check");
    if (!transient && after >= window.from && after < window.until)
        signatures.store(data, size, parse, window);
    if (parse.parsed)
        signature = parse.signature;
    else
        error = parse.error;
    return parse.parsed;
}

bool SignatureCache::find(const std::uint8_t *data, std::size_t size, std::time_t now, ParsedSignature &parse) const
{
    if (!data || size == 0 || size > keyLimit)
        return false;
    const std::string key(reinterpret_cast<const char *>(data), size);
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = entries.find(key);
    if (found == entries.end() || now < found->second.window.from || now >= found->second.window.until)
        return false;
    parse = found->second.parse;
    return true;
}

void SignatureCache::store(const std::uint8_t *data, std::size_t size, const ParsedSignature &parse, Window window)
{
    if (!data || size == 0 || size > keyLimit || window.from >= window.until)
        return;
    std::string key(reinterpret_cast<const char *>(data), size);
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = entries.find(key);
    if (found != entries.end()) {
        found->second = Entry{parse, window};
        return;
    }
    while (!order.empty() && (entries.size() >= entryLimit || keyBytes + size > keyBytesLimit)) {
        keyBytes -= order.front().size();
        entries.erase(order.front());
        order.pop_front();
    }
    entries.emplace(key, Entry{parse, window});
    keyBytes += size;
    order.push_back(std::move(key));
}

} // namespace vantoril
