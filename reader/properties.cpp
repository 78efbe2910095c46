#include "properties.h"

#include "authenticode.h"
#include "digest.h"
#include "msi.h"
#include "pe.h"
#include "reader.h"
#include "system.h"
#include "text.h"
#include "versioninfo.h"

#include <algorithm>
#include <cstring>
#include <openssl/evp.h>

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

std::string joined(const std::vector<std::string> &notes)
{
    std::string text;
    for (const std::string &note : notes)
        text += (text.empty() ? "" : "; ") + note;
    return text;
}

} // namespace

bool readImageProperties(const Reader &reader, FileProperties &properties, std::vector<std::string> &notes)
{
    Digest md5(EVP_md5());
    PeImage image;
    std::string error;
    if (!parsePe(reader, image, error)) {
        if (!isCompoundFile(reader))
            notes.push_back("not a PE image: " + error);
        const bool read = digestInput(reader, md5, nullptr, {});
        properties.md5 = read ? md5Text(md5) : std::u16string();
        return read;
    }
    notes.push_back(image.is64 ? "PE32+" : "PE32");

    std::vector<std::uint8_t> version;
    if (findVersionResource(reader, image, version, error)) {
        const VersionStrings strings = parseVersionInfo(version.data(), version.size());
        properties.productName = strings.productName;
        properties.originalFileName = strings.originalFilename;
        properties.description = strings.fileDescription;
    } else {
        notes.push_back(error.empty() ? "no version resource" : error);
    }

    std::vector<std::uint8_t> payload;
    Signature signature;
    bool signatureUsable = false;
    switch (firstSignedData(reader, image, payload, error)) {
    case CertificateTable::None:
        notes.push_back("unsigned");
        break;
    case CertificateTable::Broken:
        notes.push_back(error);
        break;
    case CertificateTable::Found:
        if (!parseSignature(payload.data(), payload.size(), signature, error))
            notes.push_back(error);
        else if (!onlyPadding(payload, signature.encodedSize))
            notes.push_back("data hidden after the signature");
        else
            signatureUsable = true;
        break;
    }

    Digest imageDigest(signatureUsable ? signature.digestType : nullptr);
    const bool read = digestInput(reader, md5, signatureUsable ? &imageDigest : nullptr, imageHashRanges(image));
    if (!read)
        return false;
    properties.md5 = md5Text(md5);
    if (signatureUsable) {
        if (imageDigest.finish() != signature.fileDigest) {
            notes.push_back("signature digest mismatch");
        } else {
            properties.signature = signature.signerName;
            notes.push_back("signed by " + utf16ToUtf8(signature.signerName));
        }
    }
    return true;
}

bool readFileProperties(const std::u16string &path, FileProperties &properties, std::string &outcome,
                        const Cancellation *cancellation)
{
    FileProperties result;
    result.processName = lastComponent(path);
    std::vector<std::string> notes;

    File file;
    std::string error;
    if (!file.open(path, error)) {
        properties = result;
        outcome = "cannot open: " + error;
        return false;
    }
    const Reader reader(file, cancellation);
    if (!readImageProperties(reader, result, notes)) {
        // Half-read values are not reported; only the name, which needs no reading.
        properties = FileProperties();
        properties.processName = result.processName;
        notes.push_back("read failed");
        outcome = joined(notes);
        return false;
    }

    if (isCompoundFile(reader)) {
        notes.push_back("MSI");
        MsiInfo msi;
        if (!readMsiFile(nativePath(path), msi, error, cancellation)) {
            notes.push_back(error);
        } else {
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
            case MsiSignature::Intact:
                result.signature = msi.signer;
                notes.push_back("signed by " + utf16ToUtf8(msi.signer));
                break;
            }
        }
    }
    properties = result;
    outcome = joined(notes);
    return true;
}

} // namespace vantoril
