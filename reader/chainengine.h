#ifndef VANTORIL_CHAINENGINE_H
#define VANTORIL_CHAINENGINE_H

#include <ctime>
#include <string>
#include <vector>

namespace vantoril {

// The operating system's own verdict on a certificate chain, where the system has a
// chain engine of its own (Windows): root properties, the Disallowed store, roots it
// fetches on demand and group policy then count as the system counts them.
struct SystemChainVerdict
{
    bool trusted = false;
    // Why not, in the words of the library's own check ("untrusted root", ...).
    std::string reason;
    // The system's verdict as it gave it, for the explain output.
    std::string said;
};

// Builds the chain of leaf (DER) with the helpers (DER) as extra certificates, at `at`
// (now when null), for code signing or time stamping, and applies the system's
// Authenticode policy. extraAnchors (DER) anchor a chain for which the system has no
// root of its own. Revocation is not checked; network fetches are bounded in time.
// False where the system has no chain engine: the library's own check then decides.
bool systemChainVerdict(const std::string &leaf, const std::vector<std::string> &helpers,
                        const std::vector<std::string> &extraAnchors, const std::time_t *at, bool timeStamping,
                        SystemChainVerdict &verdict);

} // namespace vantoril

#endif
