#ifndef VANTORIL_MSI_H
#define VANTORIL_MSI_H

#include "authenticode.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantoril {

class Anchors;
class SignatureCache;
class Cancellation;

// Withheld: the signature was read, but it is not trusted or the database does not match it.
enum class MsiSignature { None, Intact, Broken, Withheld };

struct MsiInfo
{
    // Property table "ProductName".
    std::u16string productName;
    // Summary information Comments, else Subject.
    std::u16string description;
    std::string propertyError;
    MsiSignature signature = MsiSignature::None;
    // Set only for an intact signature; signatureError says why not.
    std::u16string signer;
    std::string signatureError;
    // The signature as read, when it could be.
    Signature details;
    // Only when asked for: the SHA-256 Authenticode digest of the database as Windows
    // computes it (the MsiDigitalSignatureEx pre-hash, for a SHA-256 signature that has
    // one, then the streams in order and the class ids); empty when a stream could not be read.
    std::vector<std::uint8_t> authenticodeSha256;
};

// Reads an installer database with our own bounded readers over the system's
// compound-file access. False when the input is not a compound file at all.
// The signature check reads every stream; a cancelled call ends it between blocks.
bool readMsiFile(const std::string &nativePath, const Anchors &anchors, SignatureCache &signatures, MsiInfo &info,
                 std::string &error, const Cancellation *cancellation = nullptr, bool hashes = false);
bool readMsiMemory(const std::uint8_t *data, std::size_t size, const Anchors &anchors, SignatureCache &signatures,
                   MsiInfo &info, std::string &error, bool hashes = false);

} // namespace vantoril

#endif
