// The reader's Authenticode SignedData parser on its own, as the certificate table hands it over.
#include "anchors.h"
#include "signaturecache.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    vantoril::Signature signature;
    std::string error;
    vantoril::parseSignature(data, size, vantoril::Anchors::shared(), vantoril::SignatureCache::shared(), signature,
                             error);
    return 0;
}
