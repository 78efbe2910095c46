#ifndef VANTORIL_AUTHENTICODE_H
#define VANTORIL_AUTHENTICODE_H

#include "trust.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

typedef struct evp_md_st EVP_MD;

namespace vantoril {

class Anchors;

// What an Authenticode PKCS#7 SignedData claims, once its own signature has
// been checked against the signing certificate, and whether Windows would
// trust that certificate.
struct Signature
{
    // The digest the file must have, and the algorithm that makes it.
    const EVP_MD *digestType = nullptr;
    std::vector<std::uint8_t> fileDigest;
    // Subject CN of the signing certificate, else its O.
    std::u16string signerName;
    // Bytes of the input that the DER encoding used; the caller decides what may follow.
    std::size_t encodedSize = 0;
    // Decided before the file is hashed, so an untrusted signature costs no digest.
    TrustVerdict trust;
};

// The times [from, until) in which a verdict comes out the same.
struct ParseWindow
{
    std::time_t from;
    std::time_t until;
};

// Parses a signature and judges its trust at `now`, narrowing window to the times in which
// that verdict holds. Most callers want parseSignature (signaturecache.h), which keeps them.
bool parseSignatureAt(const std::uint8_t *data, std::size_t size, const Anchors &anchors, std::time_t now,
                      Signature &signature, std::string &error, ParseWindow &window);

// Before any other use of the crypto library in a call: keeps it from ever reading a
// configuration file. Answers must not depend on one machine's settings, and on Windows
// the file's compiled-in place is a path of the build machine, which resolves on the
// current drive, where any user may create it.
void prepareCrypto() noexcept;

// Frees what the crypto library keeps per calling thread (its error queue above all).
// The caller's threads are not ours: left to the thread's exit, that state can still be
// held while the process ends, so every call releases it before it returns.
void releaseThreadState() noexcept;

// Around every library call that may use the crypto library: prepares it, and
// releases the calling thread's state when the call returns.
struct CryptoScope
{
    CryptoScope() { prepareCrypto(); }
    ~CryptoScope() { releaseThreadState(); }
    CryptoScope(const CryptoScope &) = delete;
    CryptoScope &operator=(const CryptoScope &) = delete;
};

} // namespace vantoril

#endif
