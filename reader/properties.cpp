#include "properties.h"

#include "anchors.h"
#include "authenticode.h"
#include "digest.h"
#include "installerkind.h"
#include "msi.h"
#include "pe.h"
#include "reader.h"
#include "signaturecache.h"
#include "system.h"
#include "text.h"
#include "versioninfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <openssl/evp.h>
#include <openssl/objects.h>

namespace vantoril {

namespace {

constexpr std::uint8_t compoundFileMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// WIN_CERTIFICATE entries are padded to 8 bytes; more slack than that hides data.
constexpr std::size_t certificatePadding = 8;

std::u16string lastComponent(const std::u16string &path)
{
    std::size_t start = path.size();
    while (start > 0 && !isPathSeparator(path[start - 1]))
        --start;
    return path.substr(start);
}

bool isCompoundFile(const Reader &reader)
{
    std::uint8_t magic[sizeof compoundFileMagic];
    return reader.read(0, magic, sizeof magic) && std::memcmp(magic, compoundFileMagic, sizeof magic) == 0;
}

std::u16string md5Text(Digest &md5)
{
    const std::vector<std::uint8_t> value = md5.finish();
    return value.empty() ? std::u16string() : utf8ToUtf16(lowerHex(value.data(), value.size()));
}

bool onlyPadding(const std::vector<std::uint8_t> &payload, std::size_t used)
{
    return payload.size() - used < certificatePadding
        && std::all_of(payload.begin() + static_cast<std::ptrdiff_t>(used), payload.end(),
                       [](std::uint8_t b) { return b == 0; });
}

std::string hex16(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

void explainSignature(const Signature &signature, std::vector<std::string> &lines)
{
    const TrustVerdict &trust = signature.trust;
    lines.push_back("claimed signer\t" + utf16ToUtf8(signature.signerName));
    lines.push_back(std::string("trust\t") + (trust.trusted ? "trusted" : "not trusted: " + trust.reason));
    if (!trust.systemVerdict.empty())
        lines.push_back("system verdict\t" + trust.systemVerdict);
    for (const std::string &subject : trust.chain)
        lines.push_back("chain\t" + subject);
    if (trust.timestamped)
        lines.push_back("timestamp\t" + utcText(trust.signingTime) + " (" + trust.timestampKind + ")");
    else if (!trust.timestampKind.empty())
        lines.push_back("timestamp\tnot used: " + trust.timestampNote + " (" + trust.timestampKind + ")");
    else
        lines.push_back("timestamp\tnone: validity checked at the current time");
    if (!trust.timestampSystemVerdict.empty())
        lines.push_back("timestamp system verdict\t" + trust.timestampSystemVerdict);
    for (const std::string &subject : trust.timestampChain)
        lines.push_back("timestamp chain\t" + subject);
}

std::string untrustedNote(const Signature &signature)
{
    return "untrusted signature by " + utf16ToUtf8(signature.signerName) + ": " + signature.trust.reason;
}

void narrowToVerdict(const TrustVerdict &trust, FileProperties &properties)
{
    properties.validFrom = std::max(properties.validFrom, trust.validFrom);
    properties.validUntil = std::min(properties.validUntil, trust.validUntil);
}

std::string hexOf(Digest &digest)
{
    const std::vector<std::uint8_t> value = digest.finish();
    return lowerHex(value.data(), value.size());
}

const char *kindName(InstallerKind kind)
{
    switch (kind) {
    case InstallerKind::Msi:
        return "MSI";
    case InstallerKind::Nsis:
        return "NSIS";
    case InstallerKind::InnoSetup:
        return "Inno Setup";
    case InstallerKind::WixBundle:
        return "WiX bundle";
    case InstallerKind::InstallShield:
        return "InstallShield";
    case InstallerKind::Squirrel:
        return "Squirrel";
    case InstallerKind::SelfExtractingArchive:
        return "self-extracting archive";
    case InstallerKind::Other:
        break;
    }
    return "other";
}

std::string joined(const std::vector<std::string> &notes)
{
    std::string text;
    for (const std::string &note : notes)
        text += (text.empty() ? "" : "; ") + note;
    return text;
}

} // namespace

bool readImageProperties(const Reader &reader, const Anchors &anchors, SignatureCache &signatures,
                         FileProperties &properties, std::vector<std::string> &notes, const ReadOptions &options)
{
    Digest md5(EVP_md5());
    Digest sha256(options.hashes ? EVP_sha256() : nullptr);
    std::vector<Digest *> wholeFile{&md5};
    if (options.hashes)
        wholeFile.push_back(&sha256);
    PeImage image;
    std::string error;
    if (!parsePe(reader, image, error)) {
        if (!isCompoundFile(reader))
            notes.push_back("not a PE image: " + error);
        const bool read = digestInput(reader, wholeFile, {}, {});
        properties.md5 = read ? md5Text(md5) : std::u16string();
        if (read && options.hashes)
            properties.sha256 = hexOf(sha256);
        return read;
    }
    notes.push_back(image.is64 ? "PE32+" : "PE32");

    std::vector<std::uint8_t> version;
    std::uint16_t language = 0;
    if (findVersionResource(reader, image, version, language, error)) {
        const VersionStrings strings = parseVersionInfo(version.data(), version.size());
        properties.productName = strings.productName;
        properties.originalFileName = strings.originalFilename;
        properties.description = strings.fileDescription;
        properties.explanation.push_back("version language\t" + hex16(language));
        properties.explanation.push_back("version table\t" + utf16ToUtf8(strings.table));
    } else {
        notes.push_back(error.empty() ? "no version resource" : error);
    }
    properties.kind = peInstallerKind(reader, image, version);

    std::vector<std::uint8_t> payload;
    Signature signature;
    bool signatureUsable = false;
    bool lastEntry = false;
    switch (firstSignedData(reader, image, payload, lastEntry, error)) {
    case CertificateTable::None:
        notes.push_back("unsigned");
        break;
    case CertificateTable::Broken:
        notes.push_back(error);
        break;
    case CertificateTable::Found:
        if (!parseSignature(payload.data(), payload.size(), anchors, signatures, signature, error)) {
            notes.push_back(error);
            break;
        }
        explainSignature(signature, properties.explanation);
        narrowToVerdict(signature.trust, properties);
        properties.signerWithheld = true;
        // Tagged installers keep their tag after the signature in the last entry,
        // which the image hash does not cover; Windows accepts them.
        if (!lastEntry && !onlyPadding(payload, signature.encodedSize))
            notes.push_back("data hidden after the signature");
        else if (!signature.trust.trusted)
            notes.push_back(untrustedNote(signature));
        else
            signatureUsable = true;
        break;
    }

    // A usable signature means its table ends the file, so both image digests cover the same spans.
    std::vector<Range> ranges = imageHashRanges(image);
    Digest imageDigest(signatureUsable ? signature.digestType : nullptr);
    std::unique_ptr<Digest> authenticode;
    bool authenticodeShared = false;
    std::vector<Digest *> ranged;
    if (signatureUsable)
        ranged.push_back(&imageDigest);
    if (options.hashes && authenticodeRanges(image, reader.size(), ranges)) {
        authenticodeShared = signatureUsable && EVP_MD_get_type(signature.digestType) == NID_sha256;
        if (!authenticodeShared) {
            authenticode = std::make_unique<Digest>(EVP_sha256());
            ranged.push_back(authenticode.get());
        }
    }
    const bool read = digestInput(reader, wholeFile, ranged, ranges);
    if (!read)
        return false;
    properties.md5 = md5Text(md5);
    if (options.hashes)
        properties.sha256 = hexOf(sha256);
    std::vector<std::uint8_t> imageValue;
    if (signatureUsable)
        imageValue = imageDigest.finish();
    if (authenticodeShared)
        properties.authenticodeSha256 = lowerHex(imageValue.data(), imageValue.size());
    else if (authenticode)
        properties.authenticodeSha256 = hexOf(*authenticode);
    if (signatureUsable) {
        if (imageValue != signature.fileDigest) {
            notes.push_back("signature digest mismatch");
        } else {
            properties.signature = signature.signerName;
            properties.signerWithheld = false;
            notes.push_back("signed by " + utf16ToUtf8(signature.signerName));
        }
    }
    return true;
}

namespace {

// handle is -1 when the file is to be opened by its path.
bool readProperties(std::intptr_t handle, const std::u16string &path, const Anchors &anchors,
                    SignatureCache &signatures, FileProperties &properties, std::string &outcome,
                    const Cancellation *cancellation, const ReadOptions &options)
{
    FileProperties result;
    result.processName = lastComponent(path);
    std::vector<std::string> notes;

    File file;
    std::string error;
    if (!(handle == -1 ? file.open(path, error) : file.adopt(handle, error))) {
        properties = result;
        outcome = "cannot open: " + error;
        return false;
    }
    const Reader reader(file, cancellation);
    if (!readImageProperties(reader, anchors, signatures, result, notes, options)) {
        // Half-read values are not reported; only the name, which needs no reading.
        properties = FileProperties();
        properties.processName = result.processName;
        notes.push_back("read failed");
        outcome = joined(notes);
        return false;
    }

    if (isCompoundFile(reader)) {
        notes.push_back("MSI");
        result.kind = InstallerKind::Msi;
        MsiInfo msi;
        if (!readMsiFile(file.reopenPath(path), anchors, signatures, msi, error, cancellation, options.hashes)) {
            notes.push_back(error);
        } else {
            result.authenticodeSha256 = lowerHex(msi.authenticodeSha256.data(), msi.authenticodeSha256.size());
            result.productName = msi.productName;
            result.description = msi.description;
            if (!msi.propertyError.empty())
                notes.push_back(msi.propertyError);
            switch (msi.signature) {
            case MsiSignature::None:
                notes.push_back("unsigned");
                break;
            case MsiSignature::Broken:
                notes.push_back(msi.signatureError);
                break;
            case MsiSignature::Withheld:
                result.signerWithheld = true;
                notes.push_back(msi.signatureError);
                break;
            case MsiSignature::Intact:
                result.signature = msi.signer;
                notes.push_back("signed by " + utf16ToUtf8(msi.signer));
                break;
            }
            if (msi.signature == MsiSignature::Withheld || msi.signature == MsiSignature::Intact) {
                explainSignature(msi.details, result.explanation);
                narrowToVerdict(msi.details.trust, result);
            }
        }
    }
    result.explanation.push_back(std::string("installer kind\t") + kindName(result.kind));
    properties = result;
    outcome = joined(notes);
    return true;
}

} // namespace

bool readFileProperties(const std::u16string &path, const Anchors &anchors, SignatureCache &signatures,
                        FileProperties &properties, std::string &outcome, const Cancellation *cancellation,
                        const ReadOptions &options)
{
    return readProperties(-1, path, anchors, signatures, properties, outcome, cancellation, options);
}

bool readOpenedFileProperties(std::intptr_t handle, const std::u16string &path, const Anchors &anchors,
                              SignatureCache &signatures, FileProperties &properties, std::string &outcome,
                              const Cancellation *cancellation, const ReadOptions &options)
{
    // -1 stands for "open it yourself" inside; a caller's -1 is no open file.
    if (handle == -1) {
        properties = FileProperties();
        properties.processName = lastComponent(path);
        outcome = "cannot open: no open file given";
        return false;
    }
    return readProperties(handle, path, anchors, signatures, properties, outcome, cancellation, options);
}

} // namespace vantoril
