#ifndef VANTORIL_TIMESTAMP_H
#define VANTORIL_TIMESTAMP_H

#include <ctime>
#include <string>
#include <vector>

typedef struct pkcs7_st PKCS7;

namespace vantoril {

class Anchors;

struct Timestamp
{
    bool present = false;
    bool verified = false;
    std::time_t time = 0;
    // "RFC 3161" or "Authenticode countersignature".
    std::string kind;
    // Why a present timestamp did not verify.
    std::string error;
    std::vector<std::string> chain;
    // The system chain engine's verdict on that chain, where it decides.
    std::string system;
};

// Finds the timestamp of an Authenticode signature's first signer, an RFC 3161
// token or an Authenticode countersignature, and verifies it: its signature
// over the signer's signature value, and its own chain to an anchor at the
// time it states, with time-stamping usage.
Timestamp findTimestamp(const Anchors &anchors, PKCS7 *signedData);

} // namespace vantoril

#endif
