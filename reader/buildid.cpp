#include "buildid.h"

#include "digest.h"
#include "reader.h"
#include "system.h"
#include "text.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace vantoril {

std::string buildId()
{
    const std::string file = libraryFile();
    if (file.empty())
        return {};
    File library;
    std::string error;
    if (!library.open(utf8ToUtf16(file), error))
        return {};
    Digest sha256(EVP_sha256());
    if (!digestInput(Reader(library), sha256, nullptr, {}))
        return {};
    const std::vector<std::uint8_t> digest = sha256.finish();
    if (digest.empty())
        return {};
    return "sha256:" + lowerHex(digest.data(), digest.size()) + " " + OpenSSL_version(OPENSSL_VERSION);
}

} // namespace vantoril
