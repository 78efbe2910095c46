#include "trust.h"

#include "chain.h"
#include "system.h"
#include "timestamp.h"

#include <openssl/pkcs7.h>

namespace vantoril {

std::string utcText(std::time_t when)
{
    std::tm parts{};
    char text[32];
    if (!utcParts(when, parts) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
        return {};
    return text;
}

TrustVerdict checkTrust(const Anchors &anchors, PKCS7 *signedData, X509 *signer)
{
    TrustVerdict verdict;
    const Timestamp timestamp = findTimestamp(anchors, signedData);
    if (timestamp.present) {
        verdict.timestampKind = timestamp.kind;
        verdict.timestampChain = timestamp.chain;
        verdict.timestampSystemVerdict = timestamp.system;
        if (timestamp.verified) {
            verdict.timestamped = true;
            verdict.signingTime = timestamp.time;
        } else {
            verdict.timestampNote = timestamp.error;
        }
    }
    const ChainCheck check = verifyChain(anchors, signer, signedData->d.sign->cert,
                                         verdict.timestamped ? &verdict.signingTime : nullptr, Usage::CodeSigning);
    verdict.trusted = check.trusted;
    verdict.reason = check.reason;
    verdict.chain = check.subjects;
    verdict.systemVerdict = check.system;
    return verdict;
}

} // namespace vantoril
