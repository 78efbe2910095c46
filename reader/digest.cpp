#include "digest.h"

#include "reader.h"

#include <algorithm>
#include <openssl/evp.h>

namespace vantoril {

namespace {

// Large enough to keep the disk streaming, small enough to keep memory flat.
constexpr std::size_t blockSize = 1 << 20;

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
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, reader.size())));
    std::size_t next = 0;
    for (std::uint64_t offset = 0; offset < reader.size();) {
        const auto len = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), reader.size() - offset));
        if (!reader.read(offset, block.data(), len))
            return false;
        wholeFile.update(block.data(), len);
        const std::uint64_t blockEnd = offset + len;
        while (ranged && next < ranges.size() && ranges[next].begin < blockEnd) {
            const std::uint64_t from = std::max(ranges[next].begin, offset);
            const std::uint64_t to = std::min(ranges[next].end, blockEnd);
            if (from < to)
                ranged->update(block.data() + (from - offset), static_cast<std::size_t>(to - from));
            if (ranges[next].end > blockEnd)
                break;
            ++next;
        }
        offset = blockEnd;
    }
    return true;
}

} // namespace vantoril
