// The reader's path for installer databases: compound file, property table, summary
// information, the database's signature and its Authenticode SHA-256.
#include "anchors.h"
#include "signaturecache.h"
#include "msi.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    vantoril::MsiInfo info;
    std::string error;
    vantoril::readMsiMemory(data, size, vantoril::Anchors::shared(), vantoril::SignatureCache::shared(), info, error,
                            true);
    return 0;
}
