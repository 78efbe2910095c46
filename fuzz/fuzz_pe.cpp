// The reader's path for PE images: headers, version resource, certificate table,
// Authenticode check, installer kind and the three digests, all from the bytes in memory.
#include "anchors.h"
#include "signaturecache.h"
#include "properties.h"
#include "reader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const vantoril::Reader reader(data, size);
    vantoril::FileProperties properties;
    std::vector<std::string> notes;
    vantoril::ReadOptions options;
    options.hashes = true;
    vantoril::readImageProperties(reader, vantoril::Anchors::shared(), vantoril::SignatureCache::shared(),
                                  properties, notes, options);
    return 0;
}
