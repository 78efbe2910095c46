#include "pe.h"

#include "reader.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace vantoril {

namespace {

// Microsoft PE format, MS-DOS stub: "MZ", and the PE header's offset at 0x3C.
constexpr std::uint16_t dosMagic = 0x5A4D;
constexpr std::uint64_t dosNewHeaderOffset = 0x3C;
// Signature "PE\0\0", then the 20-byte COFF file header.
constexpr std::uint32_t peSignature = 0x00004550;
constexpr std::uint64_t coffNumberOfSections = 4 + 2;
constexpr std::uint64_t coffSizeOfOptionalHeader = 4 + 16;
constexpr std::uint64_t optionalHeaderStart = 4 + 20;
// Optional header: magic 0x10B for PE32, 0x20B for PE32+.
constexpr std::uint16_t magicPe32 = 0x10B;
constexpr std::uint16_t magicPe32Plus = 0x20B;
constexpr std::uint64_t optSizeOfHeaders = 60;
constexpr std::uint64_t optCheckSum = 64;
// NumberOfRvaAndSizes and the data directories sit 16 bytes later in PE32+.
constexpr std::uint64_t optRvaCountPe32 = 92;
constexpr std::uint64_t optRvaCountPe32Plus = 108;
constexpr std::uint32_t directoryResource = 2;
constexpr std::uint32_t directorySecurity = 4;
constexpr std::uint64_t directoryEntrySize = 8;
constexpr std::uint64_t sectionHeaderSize = 40;

// Resource directory: a 16-byte table header, then 8-byte entries; the high
// bit of an entry's second field marks a subdirectory.
constexpr std::uint64_t resourceTableHeader = 16;
constexpr std::uint64_t resourceEntrySize = 8;
constexpr std::uint32_t resourceSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t resourceTypeVersion = 16;
// Type, name and language: a deeper tree is not a version resource.
constexpr int resourceLevels = 3;
// A VS_VERSIONINFO block's length is a 16-bit field.
constexpr std::uint32_t versionInfoLimit = 0xFFFF;

// Attribute certificate table: WIN_CERTIFICATE entries aligned to 8 bytes.
constexpr std::uint64_t certificateHeaderSize = 8;
constexpr std::uint16_t certificateTypePkcsSignedData = 0x0002;
// A signature blob is a few kilobytes; this keeps a hostile size from costing memory.
constexpr std::uint32_t signedDataLimit = 16u << 20;

std::uint64_t align8(std::uint64_t value)
{
    return (value + 7) & ~std::uint64_t(7);
}

// Finds the subdirectory or data entry to follow at one level: the wanted id
// when given, else the first entry. Entries are sorted names first, then ids.
bool pickEntry(const Reader &reader, std::uint64_t table, const std::uint32_t *wantedId,
               std::uint32_t &target)
{
    std::uint16_t named = 0;
    std::uint16_t numbered = 0;
    if (!reader.u16(table + 12, named) || !reader.u16(table + 14, numbered))
        return false;
    const std::uint32_t count = std::uint32_t(named) + numbered;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = table + resourceTableHeader + i * resourceEntrySize;
        std::uint32_t name = 0;
        std::uint32_t offset = 0;
        if (!reader.u32(entry, name) || !reader.u32(entry + 4, offset))
            return false;
        const bool isId = (name & resourceSubdirectoryFlag) == 0;
        if (wantedId && !(isId && name == *wantedId))
            continue;
        target = offset;
        return true;
    }
    return false;
}

// The loader's language order on a Simplified Chinese system: neutral, the
// system's language, US English; anything else falls back to the first entry.
bool pickLanguage(const Reader &reader, std::uint64_t table, std::uint32_t &target, std::uint16_t &language)
{
    for (const std::uint32_t wanted : {0x0000u, 0x0804u, 0x0409u}) {
        if (pickEntry(reader, table, &wanted, target)) {
            language = static_cast<std::uint16_t>(wanted);
            return true;
        }
    }
    std::uint32_t name = 0;
    if (!pickEntry(reader, table, nullptr, target) || !reader.u32(table + resourceTableHeader, name))
        return false;
    language = static_cast<std::uint16_t>(name);
    return true;
}

// The entry of one level whose key matches: names are length-prefixed UTF-16
// strings at offsets relative to the tree's start, numbers plain ids.
bool pickKeyed(const Reader &reader, std::uint64_t base, std::uint64_t table, const ResourceKey &key,
               std::uint32_t &target)
{
    if (key.name.empty())
        return pickEntry(reader, table, &key.id, target);
    std::uint16_t named = 0;
    if (!reader.u16(table + 12, named))
        return false;
    // Real files name a handful of types; a hostile count costs no more than this.
    const std::uint32_t count = std::min<std::uint32_t>(named, 1024);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = table + resourceTableHeader + i * resourceEntrySize;
        std::uint32_t name = 0;
        std::uint16_t length = 0;
        if (!reader.u32(entry, name) || (name & resourceSubdirectoryFlag) == 0)
            return false;
        const std::uint64_t text = base + (name & ~resourceSubdirectoryFlag);
        if (!reader.u16(text, length) || length != key.name.size())
            continue;
        bool same = true;
        for (std::uint16_t c = 0; c < length && same; ++c) {
            std::uint16_t unit = 0;
            same = reader.u16(text + 2 + 2 * std::uint64_t(c), unit) && unit == key.name[c];
        }
        if (same)
            return reader.u32(entry + 4, target);
    }
    return false;
}

} // namespace

bool parsePe(const Reader &reader, PeImage &image, std::string &error)
{
    std::uint16_t magic = 0;
    std::uint32_t peOffset = 0;
    if (!reader.u16(0, magic) || magic != dosMagic || !reader.u32(dosNewHeaderOffset, peOffset)) {
        error = "no MZ header";
        return false;
    }
    const std::uint64_t pe = peOffset;
    std::uint32_t signature = 0;
    if (!reader.u32(pe, signature) || signature != peSignature) {
        error = "no PE header";
        return false;
    }
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;
    std::uint16_t optionalMagic = 0;
    const std::uint64_t optional = pe + optionalHeaderStart;
    if (!reader.u16(pe + coffNumberOfSections, sectionCount) || !reader.u16(pe + coffSizeOfOptionalHeader, optionalSize)
        || !reader.u16(optional, optionalMagic) || !reader.fits(optional, optionalSize)) {
        error = "truncated PE header";
        return false;
    }
    if (optionalMagic != magicPe32 && optionalMagic != magicPe32Plus) {
        error = "unknown optional header magic";
        return false;
    }
    PeImage result;
    result.is64 = optionalMagic == magicPe32Plus;
    const std::uint64_t rvaCountField = result.is64 ? optRvaCountPe32Plus : optRvaCountPe32;
    std::uint32_t rvaCount = 0;
    if (optionalSize < rvaCountField + 4 || !reader.u32(optional + optSizeOfHeaders, result.sizeOfHeaders)
        || !reader.u32(optional + rvaCountField, rvaCount)) {
        error = "truncated optional header";
        return false;
    }
    result.checkSumOffset = optional + optCheckSum;
    const std::uint64_t directories = optional + rvaCountField + 4;
    // Only directories inside the declared optional header count.
    const std::uint64_t directoriesRoom = (optional + optionalSize - directories) / directoryEntrySize;
    const std::uint64_t directoryCount = std::min<std::uint64_t>(rvaCount, directoriesRoom);

    if (directoryCount > directoryResource) {
        const std::uint64_t entry = directories + directoryResource * directoryEntrySize;
        if (!reader.u32(entry, result.resourceRva) || !reader.u32(entry + 4, result.resourceSize)) {
            error = "truncated data directory";
            return false;
        }
    }
    if (directoryCount > directorySecurity) {
        result.certificateEntryOffset = directories + directorySecurity * directoryEntrySize;
        if (!reader.u32(result.certificateEntryOffset, result.certificateTableOffset)
            || !reader.u32(result.certificateEntryOffset + 4, result.certificateTableSize)) {
            error = "truncated data directory";
            return false;
        }
    }

    const std::uint64_t sectionTable = optional + optionalSize;
    if (!reader.fits(sectionTable, sectionCount * sectionHeaderSize)) {
        error = "truncated section table";
        return false;
    }
    result.sections.reserve(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = sectionTable + i * sectionHeaderSize;
        PeSection section;
        char name[8] = {};
        if (!reader.read(header, name, sizeof name) || !reader.u32(header + 8, section.virtualSize) || !reader.u32(header + 12, section.virtualAddress)
            || !reader.u32(header + 16, section.rawSize) || !reader.u32(header + 20, section.rawOffset)) {
            error = "truncated section table";
            return false;
        }
        section.name.assign(name, strnlen(name, sizeof name));
        result.sections.push_back(section);
    }
    image = std::move(result);
    return true;
}

bool rvaToOffset(const Reader &reader, const PeImage &image, std::uint32_t rva, std::uint64_t &offset)
{
    for (const PeSection &section : image.sections) {
        const std::uint32_t span = section.virtualSize ? section.virtualSize : section.rawSize;
        if (rva < section.virtualAddress || rva - section.virtualAddress >= span)
            continue;
        const std::uint32_t delta = rva - section.virtualAddress;
        if (delta >= section.rawSize)
            return false;
        offset = std::uint64_t(section.rawOffset) + delta;
        return reader.fits(offset, 1);
    }
    // Headers are mapped at their file offsets.
    if (rva < image.sizeOfHeaders && reader.fits(rva, 1)) {
        offset = rva;
        return true;
    }
    return false;
}

bool findVersionResource(const Reader &reader, const PeImage &image, std::vector<std::uint8_t> &data,
                         std::uint16_t &language, std::string &error)
{
    error.clear();
    if (image.resourceRva == 0 || image.resourceSize == 0)
        return false;
    std::uint64_t base = 0;
    if (!rvaToOffset(reader, image, image.resourceRva, base)) {
        error = "resource directory outside the file";
        return false;
    }
    // Offsets inside the tree are relative to its start; a visited set stops cycles.
    std::set<std::uint32_t> visited;
    std::uint32_t position = 0;
    for (int level = 0; level < resourceLevels; ++level) {
        if (!visited.insert(position).second) {
            error = "resource directory cycle";
            return false;
        }
        std::uint32_t target = 0;
        const bool picked = level == resourceLevels - 1
            ? pickLanguage(reader, base + position, target, language)
            : pickEntry(reader, base + position, level == 0 ? &resourceTypeVersion : nullptr, target);
        if (!picked) {
            if (level > 0)
                error = "malformed resource directory";
            return false;
        }
        const bool subdirectory = (target & resourceSubdirectoryFlag) != 0;
        if (subdirectory != (level < resourceLevels - 1)) {
            error = "unexpected resource directory depth";
            return false;
        }
        position = target & ~resourceSubdirectoryFlag;
    }
    // A data entry: RVA, size, code page, reserved.
    std::uint32_t dataRva = 0;
    std::uint32_t dataSize = 0;
    std::uint64_t dataOffset = 0;
    if (!reader.u32(base + position, dataRva) || !reader.u32(base + position + 4, dataSize)
        || !rvaToOffset(reader, image, dataRva, dataOffset)) {
        error = "version resource outside the file";
        return false;
    }
    const std::uint64_t available = std::min<std::uint64_t>(reader.size() - dataOffset, versionInfoLimit);
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(dataSize, available));
    if (!reader.bytes(dataOffset, size, data)) {
        error = "version resource unreadable";
        return false;
    }
    return true;
}

bool findResource(const Reader &reader, const PeImage &image, const ResourceKey &type, const ResourceKey *name,
                  std::uint64_t &offset, std::uint32_t &size)
{
    std::uint64_t base = 0;
    if (image.resourceRva == 0 || image.resourceSize == 0 || !rvaToOffset(reader, image, image.resourceRva, base))
        return false;
    std::uint32_t position = 0;
    std::uint32_t target = 0;
    for (int level = 0; level < resourceLevels; ++level) {
        const std::uint64_t table = base + position;
        bool picked = false;
        if (level == 0)
            picked = pickKeyed(reader, base, table, type, target);
        else if (level == 1 && name)
            picked = pickKeyed(reader, base, table, *name, target);
        else
            picked = pickEntry(reader, table, nullptr, target);
        const bool subdirectory = (target & resourceSubdirectoryFlag) != 0;
        // Each level goes one table down, so three levels cannot loop.
        if (!picked || subdirectory != (level < resourceLevels - 1))
            return false;
        position = target & ~resourceSubdirectoryFlag;
    }
    std::uint32_t dataRva = 0;
    std::uint32_t dataSize = 0;
    if (!reader.u32(base + position, dataRva) || !reader.u32(base + position + 4, dataSize)
        || !rvaToOffset(reader, image, dataRva, offset))
        return false;
    size = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataSize, reader.size() - offset));
    return true;
}

CertificateTable firstSignedData(const Reader &reader, const PeImage &image, std::vector<std::uint8_t> &payload,
                                 bool &lastEntry, std::string &error)
{
    if (image.certificateTableOffset == 0 || image.certificateTableSize == 0)
        return CertificateTable::None;
    const std::uint64_t begin = image.certificateTableOffset;
    const std::uint64_t end = begin + image.certificateTableSize;
    if (end > reader.size()) {
        error = "certificate table runs past the end of the file";
        return CertificateTable::Broken;
    }
    // Anything after the table would be outside both the hash and the signature.
    if (end != reader.size()) {
        error = "data after the certificate table";
        return CertificateTable::Broken;
    }
    // The table is appended after the image; the hash ranges rely on that.
    if (begin < image.certificateEntryOffset + directoryEntrySize) {
        error = "certificate table overlaps the headers";
        return CertificateTable::Broken;
    }
    std::uint64_t entry = begin;
    while (entry + certificateHeaderSize <= end) {
        std::uint32_t length = 0;
        std::uint16_t type = 0;
        if (!reader.u32(entry, length) || !reader.u16(entry + 6, type)) {
            error = "certificate entry unreadable";
            return CertificateTable::Broken;
        }
        if (length < certificateHeaderSize || length > end - entry) {
            error = "certificate entry length out of bounds";
            return CertificateTable::Broken;
        }
        if (type == certificateTypePkcsSignedData) {
            const std::uint32_t size = length - certificateHeaderSize;
            if (size > signedDataLimit) {
                error = "certificate entry too large";
                return CertificateTable::Broken;
            }
            if (!reader.bytes(entry + certificateHeaderSize, size, payload)) {
                error = "certificate entry unreadable";
                return CertificateTable::Broken;
            }
            lastEntry = entry + align8(length) >= end;
            return CertificateTable::Found;
        }
        entry += align8(length);
    }
    return CertificateTable::None;
}

std::vector<Range> imageHashRanges(const PeImage &image)
{
    const std::uint64_t checkSumEnd = image.checkSumOffset + 4;
    const std::uint64_t entryEnd = image.certificateEntryOffset + directoryEntrySize;
    return {{0, image.checkSumOffset},
            {checkSumEnd, image.certificateEntryOffset},
            {entryEnd, image.certificateTableOffset}};
}

bool authenticodeRanges(const PeImage &image, std::uint64_t fileSize, std::vector<Range> &ranges)
{
    const std::uint64_t checkSumEnd = image.checkSumOffset + 4;
    if (checkSumEnd > fileSize)
        return false;
    // Without a certificate directory entry only the CheckSum is left out.
    if (image.certificateEntryOffset == 0) {
        ranges = {{0, image.checkSumOffset}, {checkSumEnd, fileSize}};
        return true;
    }
    const std::uint64_t entryEnd = image.certificateEntryOffset + directoryEntrySize;
    if (entryEnd > fileSize || image.certificateEntryOffset < checkSumEnd)
        return false;
    std::vector<Range> spans{{0, image.checkSumOffset}, {checkSumEnd, image.certificateEntryOffset}};
    if (image.certificateTableOffset == 0 || image.certificateTableSize == 0) {
        spans.push_back({entryEnd, fileSize});
    } else {
        const std::uint64_t begin = image.certificateTableOffset;
        const std::uint64_t end = begin + image.certificateTableSize;
        if (begin < entryEnd || end > fileSize)
            return false;
        spans.push_back({entryEnd, begin});
        spans.push_back({end, fileSize});
    }
    ranges = std::move(spans);
    return true;
}

} // namespace vantoril
