#ifndef VANTORIL_VERSIONINFO_H
#define VANTORIL_VERSIONINFO_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantoril {

struct VersionStrings
{
    std::u16string productName;
    std::u16string fileDescription;
    std::u16string originalFilename;
    // The key of the string table the values came from, such as 080404B0.
    std::u16string table;
};

// Reads the strings of a VS_VERSIONINFO block. The string table is chosen by
// Translation entry (exact, then same language), then US English, then the first.
VersionStrings parseVersionInfo(const std::uint8_t *data, std::size_t size);

} // namespace vantoril

#endif
