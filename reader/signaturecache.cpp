#include "signaturecache.h"

namespace vantoril {

namespace {

// A few hundred distinct signatures cover a large folder of one maker's installers;
// a signature blob is some KiB, so the keys stay within a few MiB.
constexpr std::size_t entryLimit = 256;
constexpr std::size_t keyBytesLimit = 4 << 20;
constexpr std::size_t keyLimit = 256 << 10;

} // namespace

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
