#ifndef VANTORIL_PE_H
#define VANTORIL_PE_H

#include "digest.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantoril {

class Reader;

struct PeSection
{
    // The 8-byte name field, zero-padded.
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

// What the reader needs from a PE image's headers; offsets are file offsets.
struct PeImage
{
    bool is64 = false;
    std::uint32_t sizeOfHeaders = 0;
    std::uint64_t checkSumOffset = 0;
    std::uint64_t certificateEntryOffset = 0;
    // The security directory: a file offset and size, not an RVA.
    std::uint32_t certificateTableOffset = 0;
    std::uint32_t certificateTableSize = 0;
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceSize = 0;
    std::vector<PeSection> sections;
};

bool parsePe(const Reader &reader, PeImage &image, std::string &error);

bool rvaToOffset(const Reader &reader, const PeImage &image, std::uint32_t rva, std::uint64_t &offset);

// The data of the RT_VERSION resource (bounded to what a version block can hold): of the
// first name, in the language the resource loader of a Simplified Chinese system picks
// (neutral, 0x0804, 0x0409, else the first); language tells which. False with an empty
// error when the image simply has none.
bool findVersionResource(const Reader &reader, const PeImage &image, std::vector<std::uint8_t> &data,
                         std::uint16_t &language, std::string &error);

// One level's key in the resource tree: a number, or a name when name is not empty.
struct ResourceKey
{
    std::uint32_t id = 0;
    std::u16string name;
};

// The data of the first resource of type, with the given name (the first one when
// name is null), in its first language; size is bounded by the file.
bool findResource(const Reader &reader, const PeImage &image, const ResourceKey &type, const ResourceKey *name,
                  std::uint64_t &offset, std::uint32_t &size);

enum class CertificateTable { None, Found, Broken };

// The payload of the first PKCS#7 SignedData entry of the attribute certificate table;
// lastEntry tells whether it is the table's last entry, where tagged installers keep
// their tag after the signature.
CertificateTable firstSignedData(const Reader &reader, const PeImage &image, std::vector<std::uint8_t> &payload,
                                 bool &lastEntry, std::string &error);

// The spans the Authenticode image hash covers: everything before the certificate
// table except the CheckSum field and the certificate directory entry.
std::vector<Range> imageHashRanges(const PeImage &image);

// The spans Windows hashes for the image's Authenticode hash, whether it is signed
// or not: the whole file but the CheckSum field, the certificate directory entry
// and the certificate table. False when the table does not lie inside the file
// after the headers, where no such hash exists.
bool authenticodeRanges(const PeImage &image, std::uint64_t fileSize, std::vector<Range> &ranges);

} // namespace vantoril

#endif
