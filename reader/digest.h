#ifndef VANTORIL_DIGEST_H
#define VANTORIL_DIGEST_H

#include <cstddef>
#include <cstdint>
#include <vector>

typedef struct evp_md_st EVP_MD;
typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace vantoril {

// A half-open span of file offsets.
struct Range
{
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// One running message digest; owns its OpenSSL context.
class Digest
{
public:
    explicit Digest(const EVP_MD *type);
    ~Digest();
    Digest(const Digest &) = delete;
    Digest &operator=(const Digest &) = delete;

    bool ok() const { return context != nullptr; }
    void update(const void *data, std::size_t size);
    // The digest, or empty when any step failed.
    std::vector<std::uint8_t> finish();

private:
    EVP_MD_CTX *context = nullptr;
    bool failed = false;
};

class Reader;

// Reads the whole input once, front to back in large blocks: every block goes
// to wholeFile, and the parts of it inside ranges (sorted, disjoint) go to
// ranged when it is given. False when a read fails.
bool digestInput(const Reader &reader, Digest &wholeFile, Digest *ranged,
                 const std::vector<Range> &ranges);

// The same single read for any number of digests: the first of wholeFile is fed on
// the calling thread, the others and every ranged one on a second thread when the
// input is large enough to pay for it.
bool digestInput(const Reader &reader, const std::vector<Digest *> &wholeFile, const std::vector<Digest *> &ranged,
                 const std::vector<Range> &ranges);

} // namespace vantoril

#endif
