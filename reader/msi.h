#ifndef VANTORIL_MSI_H
#define VANTORIL_MSI_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantoril {

class Cancellation;

enum class MsiSignature { None, Intact, Broken };

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
};

// Reads an installer database with our own bounded readers over libgsf's
// compound-file access. False when the input is not a compound file at all.
// The signature check reads every stream; a cancelled call ends it between blocks.
bool readMsiFile(const std::string &nativePath, MsiInfo &info, std::string &error,
                 const Cancellation *cancellation = nullptr);
bool readMsiMemory(const std::uint8_t *data, std::size_t size, MsiInfo &info, std::string &error);

} // namespace vantoril

#endif
