#ifndef VANTORIL_INSTALLERKIND_H
#define VANTORIL_INSTALLERKIND_H

#include <cstdint>
#include <vector>

namespace vantoril {

class Reader;
struct PeImage;

// What made an installer, as its own markers tell. The numbers are part of the C
// interface (pelbrook_read_more); new kinds get new numbers.
enum class InstallerKind {
    Other = 0,
    Msi = 1,
    Nsis = 2,
    InnoSetup = 3,
    WixBundle = 4,
    InstallShield = 5,
    Squirrel = 6,
    SelfExtractingArchive = 7,
};

// From a few small reads of a PE image: its section names, its version resource
// (versionInfo, already read), a few resources and the first bytes after the image.
InstallerKind peInstallerKind(const Reader &reader, const PeImage &image, const std::vector<std::uint8_t> &versionInfo);

} // namespace vantoril

#endif
