#include "installerkind.h"

#include "pe.h"
#include "reader.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vantoril {

namespace {

// Installers keep their payload right after the image; its header is near the start.
constexpr std::uint64_t overlayWindow = 64 * 1024;
constexpr std::uint32_t resourceTypeRcData = 10;
// Inno Setup keeps its loader's offset table in RCDATA 11111, starting with this.
constexpr std::uint32_t innoOffsetTableId = 11111;
// Older Inno Setup loaders carry their id at this file offset instead.
constexpr std::uint64_t innoLegacyIdOffset = 0x30;

bool contains(const std::vector<std::uint8_t> &data, const char *marker, std::size_t size)
{
    // Compared as bytes: a plain char may be signed.
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(marker);
    return std::search(data.begin(), data.end(), bytes, bytes + size) != data.end();
}

bool containsText(const std::vector<std::uint8_t> &data, const char *text)
{
    return contains(data, text, std::strlen(text));
}

// Version resources hold their strings as UTF-16LE.
bool containsWide(const std::vector<std::uint8_t> &data, const char *text)
{
    std::string wide;
    for (const char *c = text; *c; ++c) {
        wide.push_back(*c);
        wide.push_back('\0');
    }
    return contains(data, wide.data(), wide.size());
}

bool startsWith(const Reader &reader, std::uint64_t offset, std::uint32_t size, const char *marker, std::size_t length)
{
    std::vector<std::uint8_t> head;
    return size >= length && reader.bytes(offset, length, head) && std::memcmp(head.data(), marker, length) == 0;
}

bool resourceStartsWith(const Reader &reader, const PeImage &image, const ResourceKey &type, const ResourceKey *name,
                        const char *marker, std::size_t length)
{
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    return findResource(reader, image, type, name, offset, size) && startsWith(reader, offset, size, marker, length);
}

// The bytes after the last section's raw data, where installers append their payload.
std::vector<std::uint8_t> overlayHead(const Reader &reader, const PeImage &image)
{
    std::uint64_t end = image.sizeOfHeaders;
    for (const PeSection &section : image.sections)
        end = std::max<std::uint64_t>(end, std::uint64_t(section.rawOffset) + section.rawSize);
    std::vector<std::uint8_t> head;
    if (end >= reader.size())
        return head;
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(overlayWindow, reader.size() - end));
    if (!reader.bytes(end, size, head))
        head.clear();
    return head;
}

} // namespace

InstallerKind peInstallerKind(const Reader &reader, const PeImage &image, const std::vector<std::uint8_t> &versionInfo)
{
    // The bootstrapper engine keeps its container table in a section of its own.
    for (const PeSection &section : image.sections)
        if (section.name == ".wixburn")
            return InstallerKind::WixBundle;

    const std::vector<std::uint8_t> overlay = overlayHead(reader, image);
    // The first header: flags, then 0xDEADBEEF and "NullsoftInst".
    static const char nsisSignature[] = "\xEF\xBE\xAD\xDE" "NullsoftInst";
    if (contains(overlay, nsisSignature, sizeof nsisSignature - 1))
        return InstallerKind::Nsis;

    const ResourceKey rcData{resourceTypeRcData, {}};
    const ResourceKey innoTable{innoOffsetTableId, {}};
    if (resourceStartsWith(reader, image, rcData, &innoTable, "rDlPtS", 6)
        || startsWith(reader, innoLegacyIdOffset, 4, "Inno", 4) || containsWide(versionInfo, "Inno Setup")
        || containsText(overlay, "Inno Setup Setup Data"))
        return InstallerKind::InnoSetup;

    if (containsWide(versionInfo, "InstallShield") || containsText(overlay, "InstallShield"))
        return InstallerKind::InstallShield;

    // The setup stub carries the application's package as a zip in resource DATA.
    const ResourceKey squirrelData{0, u"DATA"};
    if (containsWide(versionInfo, "Installer for Squirrel")
        || resourceStartsWith(reader, image, squirrelData, nullptr, "PK\x03\x04", 4))
        return InstallerKind::Squirrel;

    // An archive after the extractor, or a cabinet in the extractor's resources.
    static const char sevenZip[] = "7z\xBC\xAF\x27\x1C";
    static const char rar[] = "Rar!\x1A\x07";
    static const char zip[] = "PK\x03\x04";
    static const char cabinet[] = "MSCF\0\0\0\0";
    const ResourceKey cabinetName{0, u"CABINET"};
    if (contains(overlay, sevenZip, sizeof sevenZip - 1) || contains(overlay, rar, sizeof rar - 1)
        || contains(overlay, zip, sizeof zip - 1) || contains(overlay, cabinet, sizeof cabinet - 1)
        || resourceStartsWith(reader, image, rcData, &cabinetName, cabinet, sizeof cabinet - 1))
        return InstallerKind::SelfExtractingArchive;
    return InstallerKind::Other;
}

} // namespace vantoril
