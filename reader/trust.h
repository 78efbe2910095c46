#ifndef VANTORIL_TRUST_H
#define VANTORIL_TRUST_H

#include "chain.h"

#include <ctime>
#include <limits>
#include <string>
#include <vector>

typedef struct pkcs7_st PKCS7;
typedef struct x509_st X509;

namespace vantoril {

class Anchors;

// The trust verdict on an Authenticode signature whose own signature already verified.
struct TrustVerdict
{
    bool trusted = false;
    std::string reason;
    std::vector<std::string> chain;
    // The proven signing time, when a timestamp verified; its kind and what a
    // timestamp that was present but failed said.
    bool timestamped = false;
    std::time_t signingTime = 0;
    std::string timestampKind;
    std::string timestampNote;
    std::vector<std::string> timestampChain;
    // What the system's chain engine said of the signer's and the timestamp's chains,
    // where it decides (Windows).
    std::string systemVerdict;
    std::string timestampSystemVerdict;
    // The times [validFrom, validUntil) in which the same check comes out the same: all
    // time for a verdict made at a timestamp's time, else up to the nearest validity
    // boundary of any certificate that could have taken part.
    std::time_t validFrom = std::numeric_limits<std::time_t>::min();
    std::time_t validUntil = std::numeric_limits<std::time_t>::max();
};

TrustVerdict checkTrust(const Anchors &anchors, PKCS7 *signedData, X509 *signer);

std::string utcText(std::time_t when);

} // namespace vantoril

#endif
