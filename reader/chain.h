#ifndef VANTORIL_CHAIN_H
#define VANTORIL_CHAIN_H

#include <ctime>
#include <string>
#include <vector>

typedef struct x509_st X509;
struct stack_st_X509;

namespace vantoril {

class Anchors;

// What a certificate at the end of a chain is asked to do.
enum class Usage { CodeSigning, TimeStamping };

struct ChainCheck
{
    bool trusted = false;
    // Why not, in words for the log: "untrusted root", "self-signed", ...
    std::string reason;
    // One-line subjects, the leaf first, as far as the chain could be built.
    std::vector<std::string> subjects;
    // The verdict of the system's own chain engine, which decides where there is one
    // (Windows); empty elsewhere.
    std::string system;
};

// Whether leaf chains to an anchor through the untrusted helpers, with every
// certificate valid at `at` (now when null) and the leaf allowed the usage.
ChainCheck verifyChain(const Anchors &anchors, X509 *leaf, stack_st_X509 *untrusted, const std::time_t *at,
                       Usage usage);

} // namespace vantoril

#endif
