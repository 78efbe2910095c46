#ifndef VANTORIL_READER_H
#define VANTORIL_READER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantoril {

class Cancellation;
class File;

// The one way the parsers touch input: every read is checked against the size
// first, and a read that does not fit fails without touching the destination.
// Works over an open file or over bytes in memory (tests, fuzzing). Reads of a
// file fail once its call has been cancelled, so every parse ends at its next read.
class Reader
{
public:
    explicit Reader(const File &file, const Cancellation *cancellation = nullptr);
    Reader(const void *data, std::uint64_t size);

    std::uint64_t size() const { return length; }
    bool fits(std::uint64_t offset, std::uint64_t len) const
    {
        return offset <= length && len <= length - offset;
    }

    bool read(std::uint64_t offset, void *dst, std::size_t len) const;
    bool bytes(std::uint64_t offset, std::size_t len, std::vector<std::uint8_t> &out) const;
    bool u16(std::uint64_t offset, std::uint16_t &value) const;
    bool u32(std::uint64_t offset, std::uint32_t &value) const;

private:
    const File *file = nullptr;
    const Cancellation *cancellation = nullptr;
    const std::uint8_t *memory = nullptr;
    std::uint64_t length = 0;
};

} // namespace vantoril

#endif
