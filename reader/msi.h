#ifndef VANTORIL_MSI_H
#define VANTORIL_MSI_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantoril {

struct MsiStrings
{
    std::u16string productName;
    // Summary information Comments, else Subject.
    std::u16string description;
};

// Reads the Property table and the summary information of an installer database.
bool readMsiStrings(const std::string &nativePath, MsiStrings &strings, std::string &error);

enum class MsiSignature { None, Intact, Broken };

// Checks the "\005DigitalSignature" stream against the hash of the database's
// streams; signer is set only for an intact signature, error says why not.
MsiSignature checkMsiSignatureFile(const std::string &nativePath, std::u16string &signer, std::string &error);
MsiSignature checkMsiSignatureMemory(const std::uint8_t *data, std::size_t size, std::u16string &signer,
                                     std::string &error);

} // namespace vantoril

#endif
