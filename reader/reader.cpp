#include "reader.h"

#include "cancellation.h"
#include "system.h"

#include <cstring>

namespace vantoril {

Reader::Reader(const File &file, const Cancellation *cancellation)
    : file(&file), cancellation(cancellation), length(file.size())
{
}

Reader::Reader(const void *data, std::uint64_t size)
    : memory(static_cast<const std::uint8_t *>(data)), length(data ? size : 0)
{
}

bool Reader::read(std::uint64_t offset, void *dst, std::size_t len) const
{
    if (!fits(offset, len))
        return false;
    if (len == 0)
        return true;
    if (memory) {
        std::memcpy(dst, memory + offset, len);
        return true;
    }
    if (cancellation && cancellation->requested())
        return false;
    return file && file->readAt(offset, dst, len);
}

bool Reader::bytes(std::uint64_t offset, std::size_t len, std::vector<std::uint8_t> &out) const
{
    // Checked before allocating, so a size read from the file cannot exhaust memory.
    if (!fits(offset, len))
        return false;
    std::vector<std::uint8_t> data(len);
    if (!read(offset, data.data(), len))
        return false;
    out.swap(data);
    return true;
}

bool Reader::u16(std::uint64_t offset, std::uint16_t &value) const
{
    std::uint8_t raw[2];
    if (!read(offset, raw, sizeof raw))
        return false;
    value = static_cast<std::uint16_t>(raw[0] | (raw[1] << 8));
    return true;
}

bool Reader::u32(std::uint64_t offset, std::uint32_t &value) const
{
    std::uint8_t raw[4];
    if (!read(offset, raw, sizeof raw))
        return false;
    value = std::uint32_t(raw[0]) | (std::uint32_t(raw[1]) << 8) | (std::uint32_t(raw[2]) << 16)
        | (std::uint32_t(raw[3]) << 24);
    return true;
}

} // namespace vantoril
